package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The tool's progress bar and support log, run through its launcher under -Xcheck:jni. */
class CliProgressTest {
    private static final String WAITING = "Press the download button on your computer";
    // Two dives of 8 chunks, 150 ms apart: the bar is redrawn several times on its way. First
    // comes a progress of a size not known yet, as from the real dive-by-dive backends.
    private static final String SLOW_COMPUTER = "events waiting unsized progress devinfo\n"
        + "transfer 8 150\n" + "dive\nprofile 0:00@0 5:00@10 10:00@0\n".repeat(2);
    // In a terminal of 40 columns: a bar of 19, the line one column short of the width.
    private static final int COLUMNS = 40;
    private static final Pattern BAR =
        Pattern.compile("\r *(\\d+)% \\[([# ]{19})\\]( \\d+:\\d\\d:\\d\\d left)?");

    @TempDir
    Path temporary;

    @Test
    void aTerminalSeesTheWaitAndABarRedrawnInPlaceWithinItsWidthThatEndsBeforeTheTable()
        throws Exception {
        Path scenario = Files.writeString(temporary.resolve("slow.txt"), SLOW_COMPUTER);
        List<String> words = new ArrayList<>();
        for (String word : Tool.command("download", "--port", scenario.toString())) {
            words.add("'" + word.replace("'", "'\\''") + "'");
        }
        // The launcher reads the width off the terminal.
        String command = "stty cols " + COLUMNS + " && exec " + String.join(" ", words);
        // script(1) gives the tool a pseudo-terminal for its standard output and error.
        ChildProcess child =
            ChildProcess.run(List.of("script", "-qfec", command, "/dev/null"), Tool.JNI_CHECKS)
                .assertClean(0);
        String screen = child.stdout().replace("\r\n", "\n");

        int waiting = screen.indexOf(WAITING + "\n");
        int table = screen.indexOf("Date and time");
        assertTrue(waiting >= 0 && table > waiting, child::toString);
        Matcher bar = BAR.matcher(screen);
        List<Integer> percentages = new ArrayList<>();
        boolean timeLeftShown = false;
        int barsEnd = 0;
        while (bar.find()) {
            assertTrue(bar.start() > waiting && bar.end() < table, child::toString);
            int percent = Integer.parseInt(bar.group(1));
            long filled = bar.group(2).chars().filter(c -> c == '#').count();
            assertTrue(Math.abs(filled - percent * 19 / 100.0) <= 1, child::toString);
            percentages.add(percent);
            timeLeftShown |= bar.group(3) != null;
            barsEnd = bar.end();
        }
        assertTrue(percentages.size() >= 3, child::toString);
        assertFalse(screen.contains("MiB"), child::toString);
        assertEquals(100, percentages.get(percentages.size() - 1), child::toString);
        for (int i = 1; i < percentages.size(); i++) {
            assertTrue(percentages.get(i) >= percentages.get(i - 1), child::toString);
        }
        assertTrue(timeLeftShown, child::toString);
        for (String line : screen.substring(waiting + WAITING.length(), table).split("[\r\n]")) {
            assertTrue(line.length() < COLUMNS, () -> "wider than the terminal: " + line);
        }
        // The bar's line ends before the table, which starts on a line of its own.
        assertTrue(screen.substring(barsEnd, table).matches(" *\n *# +"), child::toString);
        assertTrue(screen.contains("2 dives from Dcsim "), child::toString);
    }

    @Test
    void aPipeGetsNeitherBarNorWait() throws Exception {
        Path scenario = Files.writeString(temporary.resolve("slow.txt"), SLOW_COMPUTER);
        Path table = temporary.resolve("table.txt");
        List<String> command = new ArrayList<>(
            List.of("sh", "-c", "\"$@\" 2>&1 >\"$0\" | cat", table.toString()));
        command.addAll(Tool.command("download", "--port", scenario.toString()));

        ChildProcess child = ChildProcess.run(command, Tool.JNI_CHECKS).assertClean(0);

        String errors = child.stdout().replace(Tool.JAVA_OPTIONS_NOTE + " -Xcheck:jni\n", "");
        assertEquals("", errors, child::toString);
        String stdout = Files.readString(table);
        assertFalse(stdout.contains("\r") || stdout.contains(WAITING), stdout);
        assertTrue(stdout.contains("Date and time") && stdout.contains("2 dives from Dcsim "),
                   stdout);
    }

    @Test
    void logOptionsWriteTheLibrarysLogAtTheGivenLevelAndNothingElse() throws Exception {
        Path info = temporary.resolve("info.log");
        Path errorsOnly = temporary.resolve("errors.log");
        ChildProcess plain = Tool.run("download").assertClean(0);

        ChildProcess logged = Tool.run("download", "--log", info.toString()).assertClean(0);
        ChildProcess quiet =
            Tool.run("download", "--log", errorsOnly.toString(), "--loglevel", "ERROR")
                .assertClean(0);

        List<String> lines = Files.readAllLines(info);
        assertFalse(lines.isEmpty(), "empty log");
        for (String line : lines) {
            assertTrue(line.matches("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "
                                    + "(ERROR|WARNING|INFO) \\S+: .*"),
                       line);
        }
        assertTrue(lines.stream().anyMatch(line -> line.contains(" INFO diveconnector: ")),
                   lines::toString);
        assertFalse(Files.exists(errorsOnly) && Files.readString(errorsOnly).contains(" INFO "),
                    errorsOnly::toString);
        for (ChildProcess child : List.of(logged, quiet)) {
            assertEquals(plain.stdout(), child.stdout(), child::toString);
            assertEquals(plain.stderr(), child.stderr(), child::toString);
        }
    }

    @Test
    void aLogLevelThatIsUnknownOrWithoutALogIsAUsageError() throws Exception {
        String[][] cases = {
            {"unknown log level 'chatty'; the levels are error, warning, info, debug or all",
             "download", "--log", "x.log", "--loglevel", "chatty"},
            {"--loglevel needs --log FILE", "download", "--loglevel", "debug"},
            {"--log needs a file name, not an empty one", "download", "--log", ""},
        };
        for (String[] misuse : cases) {
            ChildProcess child =
                Tool.run(List.of(misuse).subList(1, misuse.length).toArray(new String[0]))
                    .assertClean(2);
            assertEquals("", child.stdout(), child::toString);
            assertTrue(child.stderr().endsWith("diveconnector: " + misuse[0]
                                               + "; see 'diveconnector download --help'\n"),
                       child::toString);
        }

        String usage = Tool.run("help", "download").assertClean(0).stdout();
        assertTrue(usage.contains("--log FILE") && usage.contains("--loglevel L")
                       && usage.contains("error, warning, info, debug, all"),
                   usage);
    }
}
