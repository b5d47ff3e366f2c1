package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The system property diveconnector.quiet: "true" takes every line of the library off standard
 * output and changes nothing else; any other value changes nothing at all.
 */
class QuietLinesTest {
    @TempDir
    Path temporary;

    /** The scenario file of a computer, under the name given. */
    private Path computer(String name, String scenario) throws Exception {
        Path file = temporary.resolve(name + ".txt");
        Files.writeString(file, scenario);
        return file;
    }

    /** Runs DownloadProbe with the JVM options and returns the child's output. */
    private static ChildProcess probe(List<String> jvmOptions, String port) throws Exception {
        return DownloadChild.run(null, false, jvmOptions, port);
    }

    private static List<String> libraryLines(ChildProcess child) {
        List<String> lines = new ArrayList<>();
        for (String line : child.stdout().split("\n")) {
            if (!line.isEmpty() && !line.startsWith("download\t")) {
                lines.add(line);
            }
        }
        return lines;
    }

    // Every kind of line the library writes: events (waiting, progress, device information,
    // clock), the parsing lines, and a status line (a parser whose destruction fails), on a
    // download that succeeds and on downloads that fail at different points.
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "succeeds        |                 | ",
        "fails mid-way   | fail-after 1 IO | ",
        "fails to parse  |                 | fault field maxdepth IO",
    })
    void quietTakesEveryLineAwayAndKeepsTheOutcome(String name, String computerFault,
                                                   String newestDiveFault) throws Exception {
        StringBuilder scenario = new StringBuilder(
            "devinfo 1 2 3\nevents waiting progress devinfo clock\ntransfer 2 0\n");
        if (computerFault != null) {
            scenario.append(computerFault).append('\n');
        }
        for (int day = 1; day <= 3; day++) {
            scenario.append("dive\ndatetime 2024-11-0").append(day)
                .append(" 10:00:00\nmix 32 0\nprofile 0:00@0 5:00@10 10:00@0\nfault destroy IO\n");
        }
        if (newestDiveFault != null) {
            scenario.append(newestDiveFault).append('\n');
        }
        Path port = computer("computer", scenario.toString());

        ChildProcess loud = probe(List.of(), port.toString());
        ChildProcess quiet = probe(List.of("-Ddiveconnector.quiet=true"), port.toString());

        List<String> loudLines = libraryLines(loud);
        assertTrue(loudLines.contains("Event: waiting for user action"), loud::toString);
        assertTrue(loudLines.contains("Error destroying the parser (-6)."), loud::toString);
        assertEquals(List.of(), libraryLines(quiet), "no line of the library when quiet");
        DownloadOutcome loudOutcome = DownloadOutcome.parse(loud.stdout());
        DownloadOutcome quietOutcome = DownloadOutcome.parse(quiet.stdout());
        assertEquals(loudOutcome, quietOutcome, "the same dives, result and failure");
        assertEquals(name.equals("succeeds"), quietOutcome.message().equals("none"),
                     quietOutcome::toString);
    }

    @ParameterizedTest
    @ValueSource(strings = {"TRUE", "yes", "1", "", " true"})
    void anyOtherValueKeepsEveryLine(String value) throws Exception {
        // A fixed clock: by default the simulated computer reports the time of the download.
        Path port = computer(
            "computer", "clock 600 1700000000\nevents waiting progress devinfo clock\ndive\nmix 21 0\n");

        ChildProcess unset = probe(List.of(), port.toString());
        ChildProcess set = probe(List.of("-Ddiveconnector.quiet=" + value), port.toString());

        assertTrue(libraryLines(unset).size() >= 5, unset::toString);
        assertEquals(unset.stdout(), set.stdout());
    }

    // A failure before the device is open: the message is the same, no line either way.
    @ParameterizedTest
    @ValueSource(strings = {"sim:absent", "usbhid:"})
    void openFailuresGiveTheSameMessage(String port) throws Exception {
        DownloadOutcome loud = DownloadOutcome.parse(probe(List.of(), port).stdout());
        DownloadOutcome quiet =
            DownloadOutcome.parse(probe(List.of("-Ddiveconnector.quiet=true"), port).stdout());
        assertTrue(loud.message().startsWith("["), loud::toString);
        assertEquals(loud, quiet);
    }
}
