package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.time.Instant;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The support log: diveconnector.log and diveconnector.loglevel. */
class SupportLogTest {
    private static final Pattern LINE = Pattern.compile(
        "(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z) (ERROR|WARNING|INFO|DEBUG) "
        + "(libdivecomputer|diveconnector): (.+)");
    private static final List<String> LEVELS = List.of("ERROR", "WARNING", "INFO", "DEBUG");

    @TempDir
    Path temporary;

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    @AfterEach
    void clearSettings() {
        System.clearProperty("diveconnector.log");
        System.clearProperty("diveconnector.loglevel");
    }

    /**
     * A download that logs at every level: the transport choice (info), every chunk received
     * (debug), a failing device close (warning) and the failure of the transfer (error).
     */
    private static void failingDownload() {
        Downloads.attach("transfer 2 0\nfail-after 1 IO\ndive\nmix 21 0\ndive\nmix 32 0\n");
        DcSim.fault("dc_device_close", 1, DcSim.Status.IO);
        NativeException thrown = assertThrows(
            NativeException.class, () -> Downloads.download(RecordingSet.accepting()));
        assertEquals("[-6]: Error downloading the dives.", thrown.getMessage());
    }

    private static List<String> levelsIn(List<String> lines) {
        return lines.stream().map(SupportLogTest::parse).map(m -> m.group(2)).distinct().sorted(
            (a, b) -> LEVELS.indexOf(a) - LEVELS.indexOf(b)).toList();
    }

    private static Matcher parse(String line) {
        Matcher matcher = LINE.matcher(line);
        assertTrue(matcher.matches(), () -> "not a log line: " + line);
        return matcher;
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource({"error, 1", "warning, 2", "info, 3", "debug, 4", "all, 4", "DeBuG, 4", ", 3"})
    void eachLevelLogsItsOwnAndTheMoreSevere(String level, int levels) throws Exception {
        Path log = temporary.resolve("support.log");
        System.setProperty("diveconnector.log", log.toString());
        if (level != null) {
            System.setProperty("diveconnector.loglevel", level);
        }
        Instant before = Instant.now().minusSeconds(1);

        failingDownload();

        List<String> lines = Files.readAllLines(log);
        assertEquals(LEVELS.subList(0, levels), levelsIn(lines), () -> String.join("\n", lines));
        Instant after = Instant.now().plusSeconds(1);
        for (String line : lines) {
            Instant stamp = Instant.parse(parse(line).group(1));
            assertFalse(stamp.isBefore(before) || stamp.isAfter(after), line);
        }
        String text = String.join("\n", lines);
        assertTrue(text.contains("ERROR libdivecomputer: Failed to read dive 2."), text);
        assertTrue(text.contains("ERROR diveconnector: The download failed: "
                                 + "[-6]: Error downloading the dives."), text);
        if (levels >= 2) {
            assertTrue(text.contains("WARNING diveconnector: Closing the device failed"), text);
        }
        if (levels >= 3) {
            assertTrue(text.contains("INFO diveconnector: Device name \"sim:test\", model "
                                     + "transports 0x01: serial (the model's first of serial,"),
                       text);
        }
    }

    @Test
    void eachDownloadAppendsAndAnUnknownLevelIsNamed() throws Exception {
        Path log = temporary.resolve("support.log");
        Files.writeString(log, "kept\n");
        System.setProperty("diveconnector.log", log.toString());
        System.setProperty("diveconnector.loglevel", "verbose");
        Downloads.attach("dive\nmix 21 0\n");

        assertEquals(1, Downloads.dives().size());
        assertEquals(1, Downloads.dives().size());

        List<String> lines = Files.readAllLines(log);
        assertEquals("kept", lines.get(0));
        List<String> starts = lines.stream().filter(l -> l.contains("Downloading from")).toList();
        assertEquals(2, starts.size(), () -> String.join("\n", lines));
        assertEquals(2, lines.stream().filter(
                            l -> l.endsWith("Unknown log level \"verbose\"; logging at info."))
                            .count());
        assertFalse(lines.stream().anyMatch(l -> l.contains(" DEBUG ")), "logged at info");
    }

    @Test
    void aThrowingHandlerIsNamedInTheLog() throws Exception {
        Path log = temporary.resolve("support.log");
        System.setProperty("diveconnector.log", log.toString());
        Downloads.attach("events waiting progress\ndive\nmix 21 0\n");
        DeviceConnector connector = new DeviceConnector() {
            @Override
            public void onDownloadWaiting() {
                throw new IllegalStateException("no screen");
            }
        };
        Set<Dive> dives = new TreeSet<>();

        assertThrows(NativeException.class, () -> connector.loadUserDivesFromDevice(
                                                Downloads.PORT, Downloads.VENDOR,
                                                Downloads.PRODUCT, dives));

        String text = Files.readString(log);
        assertTrue(text.contains("ERROR diveconnector: The application's onDownloadWaiting threw "
                                 + "java.lang.IllegalStateException: no screen; the download "
                                 + "ends."), text);
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
    }

    // A log that cannot be written changes nothing, and the log never reaches standard output or
    // standard error: a child JVM downloads with the log at its most verbose and quiet lines.
    @ParameterizedTest(name = "{0}")
    @CsvSource({"writable, true", "unwritable, false"})
    void theLogNeverReachesStandardOutputOrError(String name, boolean writable) throws Exception {
        Path scenario = temporary.resolve("computer.txt");
        Files.writeString(scenario, "transfer 3 0\nevents waiting progress devinfo clock\n"
                                    + "dive\nmix 21 0\ndive\nmix 32 0\n");
        Path log = writable ? temporary.resolve("support.log")
                            : temporary.resolve("missing-directory").resolve("support.log");
        ChildProcess child =
            DownloadChild.run(null, false,
                              List.of("-Ddiveconnector.quiet=true", "-Ddiveconnector.log=" + log,
                                      "-Ddiveconnector.loglevel=all"),
                              scenario.toString());

        DownloadOutcome outcome = DownloadOutcome.parse(child.stdout());
        assertEquals(child.stdout().strip(), outcome.format(), "nothing but the probe's line");
        assertEquals(2, outcome.dives().size(), outcome::toString);
        assertEquals(writable, Files.exists(log));
        if (writable) {
            assertTrue(Files.readString(log).contains("DEBUG libdivecomputer: Received chunk 3"));
        }
    }

    // Timestamps are UTC and keep their order.
    @Test
    void timestampsNeverGoBackwards() throws Exception {
        Path log = temporary.resolve("support.log");
        System.setProperty("diveconnector.log", log.toString());
        System.setProperty("diveconnector.loglevel", "debug");
        Downloads.attach("transfer 20 1\ndive\nmix 21 0\n");

        Downloads.dives();

        Instant previous = Instant.EPOCH;
        List<String> lines = Files.readAllLines(log);
        assertTrue(lines.size() > 20, () -> String.join("\n", lines));
        for (String line : lines) {
            Instant stamp = Instant.parse(parse(line).group(1));
            assertFalse(stamp.isBefore(previous), line);
            previous = stamp;
        }
        assertTrue(Duration.between(Instant.parse(parse(lines.get(0)).group(1)), previous)
                       .toMillis() >= 15, "20 chunks 1 ms apart");
    }
}
