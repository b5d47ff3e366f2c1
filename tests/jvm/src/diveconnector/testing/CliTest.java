package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.Tank;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.IdentityHashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalDouble;
import java.util.OptionalInt;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import javax.xml.parsers.DocumentBuilderFactory;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.w3c.dom.Document;
import org.w3c.dom.Element;

/** The diveconnector command-line tool, run through its launcher under -Xcheck:jni. */
class CliTest {
    private static final String SVG_NAMESPACE = "http://www.w3.org/2000/svg";
    private static final String BUILTIN_SUMMARY =
        "20 dives from Dcsim Reef Explorer, serial 20240401.";
    private static final String SEE_SCAN = "See 'diveconnector scan' for the ports.";
    private static final String LOG_POINTER = " (Details: --log FILE.)";
    private static final String NO_PORT =
        "diveconnector: There is no port sim:absent.\n" + SEE_SCAN + LOG_POINTER;

    @TempDir
    Path temporary;

    /** The tool started as from an interactive shell, for a test that presses Ctrl-C. */
    private static ChildProcess.Running startTool(String... arguments) throws Exception {
        List<String> command = new ArrayList<>(TestEnvironment.withDefaultSigint());
        command.addAll(Tool.command(arguments));
        return ChildProcess.start(command, Tool.JNI_CHECKS);
    }

    /** The child's stderr without the java launcher's note about JDK_JAVA_OPTIONS. */
    static String errors(ChildProcess child) {
        StringBuilder errors = new StringBuilder();
        for (String line : child.stderr().split("\n", -1)) {
            if (!line.startsWith(Tool.JAVA_OPTIONS_NOTE)) {
                errors.append(line).append('\n');
            }
        }
        return errors.toString().strip();
    }

    /** Every model the library lists, in the set's order, with its transports as "list" shows. */
    private static List<List<String>> modelsHere() throws NativeException {
        DcSim.reset();
        SupportedDevicesTest.TransportRecorder recorder =
            new SupportedDevicesTest.TransportRecorder(0);
        Set<Device> devices = recorder.getSupportedDevices();
        Map<List<String>, Long> masks = new HashMap<>();
        for (String call : recorder.calls) {
            String[] fields = call.split("\t");
            masks.merge(List.of(fields[0], fields[1]), Long.decode(fields[2]), (x, y) -> x | y);
        }
        String[] names = {"serial", "usb", "usbhid", "irda", "bluetooth", "ble"};
        List<List<String>> models = new ArrayList<>();
        for (Device device : devices) {
            long mask = masks.get(List.of(device.getVendor(), device.getProduct()));
            List<String> transports = new ArrayList<>();
            for (int bit = 0; bit < names.length; bit++) {
                if ((mask & (1L << bit)) != 0) {
                    transports.add(names[bit]);
                }
            }
            models.add(
                List.of(device.getVendor(), device.getProduct(), String.join(" ", transports)));
        }
        return models;
    }

    /** The rows of a "list" table as (vendor, product, transports), and its last line. */
    private static List<List<String>> listed(ChildProcess child) {
        List<String> lines = List.of(child.stdout().split("\n"));
        String header = lines.get(0);
        int productColumn = header.indexOf("Product");
        int transportsColumn = header.indexOf("Transports");
        assertTrue(header.startsWith("Vendor") && productColumn > 0
                       && transportsColumn > productColumn,
                   header);
        List<List<String>> rows = new ArrayList<>();
        for (String row : lines.subList(1, lines.size() - 1)) {
            rows.add(List.of(row.substring(0, productColumn).strip(),
                             row.substring(productColumn, Math.min(row.length(), transportsColumn))
                                 .strip(),
                             row.length() > transportsColumn ? row.substring(transportsColumn)
                                                             : ""));
        }
        return rows;
    }

    @Test
    void scanListsThePortsAndRefusesATimeItCannotUse() throws Exception {
        // 0 s: no Bluetooth search, so the machine's own bus is left alone.
        ChildProcess child = Tool.run("scan", "--seconds", "0").assertClean(0);
        assertEquals("", errors(child), child::toString);
        List<String> lines = List.of(child.stdout().split("\n"));
        assertTrue(lines.get(0).matches("Port +Signal +Name +Models"), child::toString);
        assertTrue(lines.stream().anyMatch(
                       line -> line.matches("dcsim:builtin +simulated: Dcsim Reef Explorer")),
                   child::toString);

        for (String seconds : new String[] {"601", "-1", "ten", ""}) {
            ChildProcess refused = Tool.run("scan", "--seconds", seconds).assertClean(2);
            assertTrue(errors(refused).startsWith(
                           "diveconnector: --seconds takes a whole number of seconds from 0 to "
                           + "600, not '" + seconds + "'"),
                       refused::toString);
        }
    }

    @Test
    void listPrintsEveryModelInTheSetsOrderWithItsTransportsAndACount() throws Exception {
        List<List<String>> expected = modelsHere();

        ChildProcess child = Tool.run("list").assertClean(0);

        assertEquals("", errors(child), child::toString);
        assertEquals(expected, listed(child));
        assertTrue(expected.contains(List.of("Dcsim", "Reef Explorer", "serial")),
                   expected::toString);
        assertTrue(child.stdout().endsWith("\n" + expected.size() + " supported models\n"),
                   child::toString);
    }

    @Test
    void listFiltersByTextInAnyCaseAndByTransport() throws Exception {
        List<List<String>> models = modelsHere();
        String[][] cases = {
            // TEXT, --transport or "", what matches
            {"REEF", "", "product"},
            {"mOcKdIvE", "", "vendor"},
            {"", "ble", "transport"},
            {"", "irda", "transport"},
            {"sim", "bluetooth", "both"},
            {"Dcsim Reef", "", "every word"},
            {"", "BLE", "transport in any case"},
        };
        for (String[] filter : cases) {
            List<String> arguments = new ArrayList<>(List.of("list"));
            if (!filter[0].isEmpty()) {
                arguments.add(filter[0]);
            }
            if (!filter[1].isEmpty()) {
                arguments.addAll(List.of("--transport", filter[1]));
            }
            List<List<String>> expected = new ArrayList<>();
            for (List<String> model : models) {
                String name = (model.get(0) + " " + model.get(1)).toLowerCase(Locale.ROOT);
                boolean textMatches = Stream.of(filter[0].toLowerCase(Locale.ROOT).split(" "))
                                          .allMatch(name::contains);
                boolean transportMatches = filter[1].isEmpty()
                    || List.of(model.get(2).split(" "))
                           .contains(filter[1].toLowerCase(Locale.ROOT));
                if (textMatches && transportMatches) {
                    expected.add(model);
                }
            }
            assertFalse(expected.isEmpty() || expected.size() == models.size(), filter[2]);

            ChildProcess child = Tool.run(arguments.toArray(new String[0])).assertClean(0);

            assertEquals(expected, listed(child), child::toString);
            assertTrue(child.stdout().endsWith("\n" + expected.size() + " of " + models.size()
                                               + " supported models\n"),
                       child::toString);
        }

        // Several words match all of them; after -- an option's name is a word.
        assertEquals(Tool.run("list", "Dcsim Reef").stdout(),
                     Tool.run("list", "reef", "DCSIM").assertClean(0).stdout());
        for (String[] none : new String[][] {{"no such model"}, {"--", "--transport"}}) {
            ChildProcess child = Tool.run(Stream.concat(Stream.of("list"), Stream.of(none))
                                              .toArray(String[]::new))
                                     .assertClean(0);
            assertEquals("No supported model matches; 'list' alone prints all " + models.size()
                             + ".\n",
                         child.stdout());
        }
    }

    private static final List<String> COMMANDS = List.of("list", "scan", "download", "dump");

    @Test
    void helpIsPrintedForEveryWayOfAskingForItWithin80Columns() throws Exception {
        String usage = Tool.run("--help").assertClean(0).stdout();
        assertTrue(usage.startsWith("Usage: diveconnector"), usage);
        for (String[] arguments : new String[][] {{"help"}, {"-h"}, {"--verbose", "help"}}) {
            ChildProcess child = Tool.run(arguments).assertClean(0);
            assertEquals(usage, child.stdout(), child::toString);
            assertEquals("", errors(child), child::toString);
        }
        ChildProcess bare = Tool.run().assertClean(2);
        assertEquals("", bare.stdout(), bare::toString);
        assertEquals(usage.strip(), errors(bare), bare::toString);

        List<String> helps = new ArrayList<>(List.of(usage));
        for (String command : COMMANDS) {
            String help = Tool.run("help", command).assertClean(0).stdout();
            assertTrue(usage.contains("\n  " + command + " "), usage);
            assertTrue(help.startsWith("Usage: diveconnector [--verbose] " + command), help);
            assertEquals(help, Tool.run(command, "--help").assertClean(0).stdout());
            helps.add(help);
        }
        String download = helps.get(3);
        for (String option : List.of("--port NAME", "--vendor V", "--product P", "--model \"V P\"",
                                     "--json FILE", "--plot DIR", "--log FILE",
                                     "(default: dcsim:builtin)", "\"NaN\"")) {
            assertTrue(download.contains(option), () -> option + " missing from\n" + download);
        }
        assertTrue(
            helps.get(4).startsWith("Usage: diveconnector [--verbose] dump [OPTIONS] FILE\n"),
            helps.get(4));
        for (String help : helps) {
            // Every description in one column, every line within 80.
            Set<Integer> columns = new HashSet<>();
            for (String line : help.split("\n")) {
                assertTrue(line.length() <= 80, () -> "too wide: " + line);
                Matcher row = OPTION_ROW.matcher(line);
                if (line.startsWith("  --") && row.matches()) {
                    columns.add(row.start(2));
                }
            }
            assertTrue(columns.size() <= 1, help);
        }

        ChildProcess version = Tool.run("--version").assertClean(0);
        assertTrue(version.stdout().matches("diveconnector \\d+\\.\\d+\\.\\d+\nlibdivecomputer "
                                            + "\\d+\\.\\d+\\.\\d+\\S* simulated by dcsim: this "
                                            + "build reaches simulated dive computers only\n"),
                   version::toString);
    }

    // An option's name and value, two or more spaces, its description.
    private static final Pattern OPTION_ROW = Pattern.compile("  (--\\S+(?: \\S+)?) {2,}(\\S.*)");

    /**
     * Each case, a message and the arguments, exits with 2 and one line: the message, and where
     * the help of the command is.
     */
    private static void assertUsageErrors(String[][] cases) throws Exception {
        for (String[] misuse : cases) {
            String[] arguments = List.of(misuse).subList(1, misuse.length).toArray(new String[0]);
            ChildProcess child = Tool.run(arguments).assertClean(2);
            String command = Stream.of(arguments).filter(COMMANDS::contains).findFirst()
                                 .map(name -> " " + name).orElse("");
            assertEquals("", child.stdout(), child::toString);
            assertEquals("diveconnector: " + misuse[0] + "; see 'diveconnector" + command
                             + " --help'",
                         errors(child), child::toString);
        }
    }

    @Test
    void misuseExitsWithTwoAndOneLineThatPointsAtTheHelp() throws Exception {
        assertUsageErrors(new String[][] {
            {"unknown command 'bogus'", "bogus"},
            {"unknown option '--port'", "list", "--port", "/dev/ttyUSB0"},
            {"unknown option '--frobnicate'", "--frobnicate"},
            {"unexpected argument 'extra'", "scan", "extra"},
            {"unexpected argument 'extra'", "download", "extra"},
            {"unexpected argument 'extra'", "dump", "file", "extra"},
            {"--all takes no value", "download", "--all=yes"},
            {"--model names vendor and product; give it without --vendor and --product",
             "download", "--model", "Dcsim Reef Explorer", "--vendor", "Dcsim"},
            {"unknown transport 'wifi'; the transports are serial, usb, usbhid, irda, bluetooth "
                 + "or ble",
             "list", "--transport", "wifi"},
        });
    }

    private static ChildProcess toolOnVariant(String variant, String... arguments)
        throws Exception {
        List<Path> classPath = List.of(TestEnvironment.variant(variant),
                                       TestEnvironment.path("diveconnector.tool.jar"),
                                       TestEnvironment.path("diveconnector.java.jar"));
        return ChildProcess.run(
            TestEnvironment.childJvm(classPath, "brenquill.main.java.tool.Main", arguments),
            Map.of());
    }

    @Test
    void nativeFailureExitsWithOneAndOneLineUnlessVerbose() throws Exception {
        ChildProcess plain = toolOnVariant("device-constructor-throws", "list").assertClean(1);
        assertEquals("", plain.stdout(), plain::toString);
        assertEquals("diveconnector: Could not create device.\n", plain.stderr());

        ChildProcess verbose =
            toolOnVariant("device-constructor-throws", "--verbose", "list").assertClean(1);
        assertTrue(verbose.stderr().startsWith(
                       "diveconnector: Could not create device.\n"
                       + "brenquill.main.java.core.exceptions.NativeException: Could not create "
                       + "device.\n\tat "),
                   verbose::toString);
    }

    @Test
    void missingNativeLibraryIsOneLine() throws Exception {
        List<String> command = List.of(
            TestEnvironment.javaBinary().toString(), "-Ddiveconnector.library=/nonexistent/lib.so",
            "-cp",
            TestEnvironment.path("diveconnector.tool.jar") + java.io.File.pathSeparator
                + TestEnvironment.path("diveconnector.java.jar"),
            "brenquill.main.java.tool.Main", "list");

        ChildProcess child = ChildProcess.run(command, Map.of()).assertClean(1);

        assertTrue(child.stderr().startsWith("diveconnector: cannot load the native library: "),
                   child::toString);
        assertEquals(1, child.stderr().strip().split("\n").length, child::toString);
    }

    /**
     * The in-process download of a computer, in the tool's order: chronological, dives that tie
     * in the order they arrived.
     */
    private static List<Dive> downloadHere(String port) throws NativeException {
        DcSim.reset();
        RecordingSet<Dive> set = RecordingSet.accepting();
        Downloads.download(port, Downloads.VENDOR, Downloads.PRODUCT, set);
        List<Dive> dives = new ArrayList<>(set.added());
        dives.sort(null);
        return dives;
    }

    /** A download's dives in the tool's order, and the details the library gave with each. */
    record Detailed(List<Dive> dives, List<DiveDetails> details) {}

    /** {@link #downloadHere} through a connector that takes each dive's details, as the tool's. */
    static Detailed downloadWithDetails(String port) throws NativeException {
        DcSim.reset();
        Map<Dive, DiveDetails> details = new IdentityHashMap<>();
        DeviceConnector connector = new DeviceConnector() {
            @SuppressWarnings("unused")
            public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
                details.put(dive, diveDetails);
            }
        };
        RecordingSet<Dive> set = RecordingSet.accepting();
        try {
            connector.loadUserDivesFromDevice(port, Downloads.VENDOR, Downloads.PRODUCT, set);
        } finally {
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        }
        List<Dive> dives = new ArrayList<>(set.added());
        dives.sort(null);
        return new Detailed(dives, dives.stream().map(details::get).toList());
    }

    /** The table rows of a download's output: every line from the header to the summary. */
    private static List<String[]> tableRows(String stdout) {
        List<String> lines = List.of(stdout.split("\n"));
        int header = -1;
        for (int i = 0; i < lines.size(); i++) {
            if (lines.get(i).matches(" *# +Date and time +Duration +Max depth +Avg depth +Min temp"
                                     + " +Mode +Gas +Tanks start/end +Samples")) {
                header = i;
            }
        }
        assertTrue(header >= 0, stdout);
        List<String[]> rows = new ArrayList<>();
        for (String line : lines.subList(header + 1, lines.size())) {
            if (!line.matches(" *[0-9]+  .*")) {
                break;
            }
            rows.add(line.strip().split(" {2,}"));
        }
        return rows;
    }

    @Test
    void downloadPrintsProgressThenTheDivesAndTheDevice() throws Exception {
        List<Dive> expected = downloadHere("dcsim:builtin");

        ChildProcess child = Tool.run("--verbose", "download").assertClean(0);

        assertEquals("", errors(child), child::toString);
        String stdout = child.stdout();
        assertTrue(stdout.startsWith("Simulated dive computer: this build uses dcsim, not "
                                     + "libdivecomputer.\nDownloading from Dcsim Reef Explorer on "
                                     + "dcsim:builtin.\n"),
                   stdout);
        int progress = stdout.indexOf("Event: progress 100.00% (80/80)");
        assertTrue(progress > 0 && progress < stdout.indexOf("Date and time"),
                   "the library's progress comes before the table");
        List<String[]> rows = tableRows(stdout);
        assertEquals(20, rows.size(), stdout);
        for (int i = 0; i < rows.size(); i++) {
            String[] row = rows.get(i);
            Dive dive = expected.get(i);
            assertEquals(10, row.length, () -> String.join("|", row));
            assertEquals(String.valueOf(i + 1), row[0]);
            assertEquals(dive.getDateTime(), row[1]);
            assertEquals(dive.getGas().toString(), row[7]);
            assertEquals(String.valueOf(dive.getSampleCount()), row[9]);
        }
        assertEquals(List.of("1", "2024-05-04 10:12:00", "0:42:00", "12.0 m", "-", "25.4 \u00b0C",
                             "OC", "Air", "200/120 bar", "253"),
                     List.of(rows.get(0)));
        assertEquals(List.of("6", "2024-05-06 13:40:00", "1:00:00", "14.0 m", "-", "25.8 \u00b0C",
                             "OC", "Air", "200/100 bar", "361"),
                     List.of(rows.get(5)));
        assertEquals(List.of("11", "2024-05-10 07:30:00", "0:57:00", "60.0 m", "-",
                             "21.3 \u00b0C", "OC", "Tx 18/45", "220/90 200/110 200/130 bar", "343"),
                     List.of(rows.get(10)));
        assertEquals(List.of("18", "2024-05-14 08:45:00", "1:05:00", "18.0 m", "-", "25.4 \u00b0C",
                             "OC", "EAN36", "200/85 bar", "391"),
                     List.of(rows.get(17)));
        List<String> lines = List.of(stdout.split("\n"));
        assertEquals(BUILTIN_SUMMARY, lines.get(lines.size() - 1));
    }

    @Test
    void newOnlyBringsOnlyNewDivesAndSharesItsCacheFilesWithDctool() throws Exception {
        Path cache = temporary.resolve("cache");
        String cacheOption = cache.toString();
        ChildProcess first =
            Tool.run("download", "--new-only", "--cache", cacheOption).assertClean(0);
        assertEquals(20, tableRows(first.stdout()).size(), first::toString);
        // dctool's name: the backend, the serial as 8 upper-case hex digits; the raw fingerprint,
        // the Vyper's 5 date bytes of the newest dive (2024-05-15 13:50).
        Path file = cache.resolve(String.format("vyper-%08X.bin", 20240401));
        byte[] newest = {24, 5, 15, 13, 50};
        assertArrayEquals(newest, Files.readAllBytes(file));

        ChildProcess second =
            Tool.run("download", "--new-only", "--cache", cacheOption).assertClean(0);
        assertEquals("No new dives.", second.stdout().lines().reduce((a, b) -> b).orElse(""),
                     second::toString);
        assertFalse(second.stdout().contains("0 dives from"), second::toString);

        Files.write(file, new byte[] {24, 5, 6, 9, 0}); // the fifth dive's
        ChildProcess all = Tool.run("download", "--all", "--cache", cacheOption).assertClean(0);
        assertEquals(20, tableRows(all.stdout()).size(), all::toString);
        assertArrayEquals(newest, Files.readAllBytes(file));

        ChildProcess plain = Tool.run("download").assertClean(0);
        assertEquals(20, tableRows(plain.stdout()).size(), "without --new-only every dive comes");
        try (Stream<Path> files = Files.list(cache)) {
            assertEquals(List.of(file), files.toList());
        }
    }

    /** A computer with serial 3 whose logbook holds `dives` dives of June 2024, the n-th on day n. */
    private Path computerOfJune(int dives, String transfer) throws Exception {
        StringBuilder scenario = new StringBuilder("devinfo 1 2 3\n" + transfer);
        for (int dive = 1; dive <= dives; dive++) {
            scenario.append("dive\ndatetime 2024-06-0").append(dive)
                .append(" 10:00:00\nprofile 0:00@0 5:00@10 10:00@0\n");
        }
        return Files.writeString(temporary.resolve("slow.txt"), scenario);
    }

    /** Every file a --cache directory holds, none when it is missing. */
    private static List<Path> cacheFiles(Path cache) throws Exception {
        return Files.isDirectory(cache) ? listing(cache) : List.of();
    }

    // The dives handed over but not written must come again: the cache moves on only once every
    // output is in place and the standard output took the table.
    @Test
    void newOnlyMovesTheCacheOnlyOnceEveryOutputIsWritten() throws Exception {
        Path plots = Files.createDirectory(temporary.resolve("plots"));
        Files.createDirectory(plots.resolve("dive-2024-05-04_10-12-00.svg"));
        Path cache = temporary.resolve("cache");
        String[] cacheOptions = {"download", "--new-only", "--cache", cache.toString()};
        String[][] cases = {
            {"cannot write " + plots.resolve("dive-2024-05-04_10-12-00.svg") + ": it is a directory",
             "--plot", plots.toString()},
            {"cannot write /dev/full: No space left on device", "--json", "/dev/full"},
        };
        for (String[] failure : cases) {
            List<String> arguments = new ArrayList<>(List.of(cacheOptions));
            arguments.addAll(List.of(failure).subList(1, failure.length));
            ChildProcess child = Tool.run(arguments.toArray(String[]::new)).assertClean(1);
            assertEquals("diveconnector: " + failure[0], errors(child), child::toString);
            assertEquals(List.of(), cacheFiles(cache), child::toString);
        }

        // The reader of the standard output goes away after the first line, long before the
        // slow transfer ends and the table comes.
        List<String> command = new ArrayList<>(List.of("bash", "-c",
                                                       "set -o pipefail; \"$@\" | head -1",
                                                       "bash"));
        command.addAll(Tool.command("download", "--new-only", "--cache", cache.toString(),
                                    "--port",
                                    computerOfJune(2, "transfer 8 250\n").toString()));
        // Quietly, with the status a shell shows for a tool that SIGPIPE ended.
        ChildProcess closed = ChildProcess.run(command, Tool.JNI_CHECKS).assertClean(141);
        assertTrue(closed.stdout().startsWith("Simulated dive computer: "), closed::toString);
        assertEquals("", errors(closed), closed::toString);
        assertEquals(List.of(), cacheFiles(cache));
        ChildProcess again = Tool.run(cacheOptions).assertClean(0);
        assertEquals(20, tableRows(again.stdout()).size(), again::toString);
    }

    // Nothing new touches no file, and the plots of a later download take names of their own.
    @Test
    void newOnlyWithNothingNewLeavesTheFilesAndNewPlotsTakeNewNames() throws Exception {
        Path json = temporary.resolve("dives.json");
        Path plots = temporary.resolve("plots");
        Path cache = temporary.resolve("cache");
        String[] arguments = {"download", "--new-only", "--cache", cache.toString(), "--json",
                              json.toString(), "--plot", plots.toString(), "--port",
                              temporary.resolve("slow.txt").toString()};
        computerOfJune(2, "");
        Tool.run(arguments).assertClean(0);
        List<Path> firstPlots = listing(plots);
        assertEquals(2, firstPlots.size(), firstPlots::toString);
        List<String> firstContents = new ArrayList<>();
        for (Path plot : firstPlots) {
            firstContents.add(Files.readString(plots.resolve(plot)));
        }
        Files.writeString(json, "the diver's copy");

        ChildProcess nothing = Tool.run(arguments).assertClean(0);
        assertEquals("No new dives.", nothing.stdout().strip().lines().reduce((a, b) -> b).get(),
                     nothing::toString);
        assertFalse(nothing.stdout().contains("dives from") || nothing.stdout().contains("Wrote"),
                    nothing::toString);
        assertEquals("the diver's copy", Files.readString(json));
        assertEquals(firstPlots, listing(plots));
        assertEquals(List.of(cache.getFileName(), json.getFileName(), plots.getFileName(),
                             Path.of("slow.txt")),
                     listing(temporary), "no temporary file is left");

        computerOfJune(3, "");
        ChildProcess third = Tool.run(arguments).assertClean(0);
        assertEquals(1, tableRows(third.stdout()).size(), third::toString);
        List<Path> allPlots = listing(plots);
        assertEquals(3, allPlots.size(), allPlots::toString);
        for (int i = 0; i < firstPlots.size(); i++) {
            assertEquals(firstContents.get(i), Files.readString(plots.resolve(firstPlots.get(i))),
                         firstPlots.get(i)::toString);
        }
    }

    @Test
    void newOnlyFindsItsCacheUnderXdgCacheHome() throws Exception {
        Map<String, String> environment =
            Map.of("JDK_JAVA_OPTIONS", "-Xcheck:jni", "XDG_CACHE_HOME", temporary.toString());
        ChildProcess first =
            ChildProcess.run(Tool.command("download", "--new-only"), environment).assertClean(0);
        assertEquals(20, tableRows(first.stdout()).size(), first::toString);
        assertTrue(Files.exists(
            temporary.resolve("diveconnector").resolve(String.format("vyper-%08X.bin", 20240401))));
        ChildProcess second =
            ChildProcess.run(Tool.command("download", "--new-only"), environment).assertClean(0);
        assertTrue(second.stdout().contains("\nNo new dives.\n"), second::toString);
    }

    @Test
    void cacheOptionsThatCannotWorkTogetherAreUsageErrors() throws Exception {
        for (List<String> arguments :
             List.of(List.of("download", "--new-only", "--all"),
                     List.of("download", "--cache", temporary.toString()),
                     List.of("download", "--new-only", "--cache", ""))) {
            ChildProcess child = Tool.run(arguments.toArray(String[]::new));
            assertEquals(2, child.exitCode(), child::toString);
        }
    }

    /** Reads a float the tool wrote: a JSON number, or one of the strings for NaN and infinity. */
    private static void assertFloat(Float expected, Object written, String what) {
        if (expected == null) {
            assertNull(written, what);
            return;
        }
        float read;
        if (Float.isFinite(expected)) {
            JsonReader.Number number = assertInstanceOf(JsonReader.Number.class, written, what);
            // As most JSON readers do: a double, then rounded to float.
            read = (float) Double.parseDouble(number.text());
        } else {
            String text = assertInstanceOf(String.class, written, what);
            assertTrue(List.of("NaN", "Infinity", "-Infinity").contains(text), what + ": " + text);
            read = Float.parseFloat(text);
        }
        assertEquals(Float.floatToIntBits(expected), Float.floatToIntBits(read),
                     () -> what + ": " + written + " is not " + expected);
    }

    /** Reads a double the tool wrote, as assertFloat does a float; null for an empty one. */
    private static void assertDouble(OptionalDouble expected, Object written, String what) {
        if (expected.isEmpty()) {
            assertNull(written, what);
            return;
        }
        double value = expected.getAsDouble();
        double read = Double.isFinite(value)
            ? Double.parseDouble(assertInstanceOf(JsonReader.Number.class, written, what).text())
            : Double.parseDouble(assertInstanceOf(String.class, written, what));
        assertEquals(Double.doubleToLongBits(value), Double.doubleToLongBits(read),
                     () -> what + ": " + written + " is not " + value);
    }

    private static void assertDoubles(double[] expected, Object written, String what) {
        List<?> values = assertInstanceOf(List.class, written, what);
        assertEquals(expected.length, values.size(), what);
        for (int i = 0; i < expected.length; i++) {
            assertDouble(OptionalDouble.of(expected[i]), values.get(i), what + "[" + i + "]");
        }
    }

    /** libdivecomputer's unsigned values; DiveSamples.ABSENT as null where `absent` says so. */
    private static void assertUnsigned(int[] expected, boolean absent, Object written,
                                       String what) {
        List<Object> numbers = new ArrayList<>();
        for (int value : expected) {
            numbers.add(absent && value == DiveSamples.ABSENT
                            ? null
                            : new JsonReader.Number(Integer.toUnsignedString(value)));
        }
        assertEquals(numbers, written, what);
    }

    private static Object number(OptionalInt value) {
        return value.isPresent() ? new JsonReader.Number(String.valueOf(value.getAsInt())) : null;
    }

    private static Object word(Optional<? extends Enum<?>> value) {
        return value.map(constant -> constant.name().toLowerCase(Locale.ROOT)).orElse(null);
    }

    /** The keys of a dive in the first format, unchanged in the second. */
    private static final List<String> FIRST_FORMAT_KEYS =
        List.of("number", "dateTime", "diveTimeSeconds", "maxDepthMetres", "gas", "samples",
                "profile");
    private static final List<String> DETAIL_KEYS =
        List.of("startTime", "utcOffsetSeconds", "diveMode", "averageDepthMetres",
                "surfaceTemperatureCelsius", "minimumTemperatureCelsius",
                "maximumTemperatureCelsius", "atmosphericPressureBar", "water",
                "waterDensityKilogramsPerCubicMetre", "decoModel", "location", "gasMixes", "tanks",
                "sampleSeries");

    /** A dive's keys after the first format's, value by value against the library's details. */
    @SuppressWarnings("unchecked")
    private static void assertDetailsHeld(DiveDetails details, Map<String, Object> entry,
                                          String where) {
        assertEquals(number(details.timezoneOffset()), entry.get("utcOffsetSeconds"), where);
        assertEquals(word(details.diveMode()), entry.get("diveMode"), where + "dive mode");
        assertDouble(details.averageDepth(), entry.get("averageDepthMetres"), where);
        assertDouble(details.surfaceTemperature(), entry.get("surfaceTemperatureCelsius"), where);
        assertDouble(details.minimumTemperature(), entry.get("minimumTemperatureCelsius"), where);
        assertDouble(details.maximumTemperature(), entry.get("maximumTemperatureCelsius"), where);
        assertDouble(details.atmosphericPressure(), entry.get("atmosphericPressureBar"), where);
        assertEquals(word(details.water()), entry.get("water"), where + "water");
        assertDouble(details.density(), entry.get("waterDensityKilogramsPerCubicMetre"), where);
        Object model = details.decoModel().map(m -> {
            boolean buhlmann = m.type().name().equals("BUHLMANN");
            Map<String, Object> expected = new LinkedHashMap<>();
            expected.put("type", m.type().name().toLowerCase(Locale.ROOT));
            expected.put("conservatism", new JsonReader.Number(String.valueOf(m.conservatism())));
            expected.put("gradientFactorLowPercent",
                         buhlmann ? new JsonReader.Number(String.valueOf(m.gradientFactorLow()))
                                  : null);
            expected.put("gradientFactorHighPercent",
                         buhlmann ? new JsonReader.Number(String.valueOf(m.gradientFactorHigh()))
                                  : null);
            return (Object) expected;
        }).orElse(null);
        assertEquals(model, entry.get("decoModel"), where + "deco model");
        if (details.location().isEmpty()) {
            assertNull(entry.get("location"), where + "location");
        } else {
            Map<String, Object> location = (Map<String, Object>) entry.get("location");
            assertDouble(OptionalDouble.of(details.location().get().latitude()),
                         location.get("latitudeDegrees"), where + "latitude");
            assertDouble(OptionalDouble.of(details.location().get().longitude()),
                         location.get("longitudeDegrees"), where + "longitude");
            assertDouble(OptionalDouble.of(details.location().get().altitude()),
                         location.get("altitudeMetres"), where + "altitude");
        }
        List<Object> mixes = (List<Object>) entry.get("gasMixes");
        assertEquals(details.gasMixes().size(), mixes.size(), where + "mixes");
        for (int i = 0; i < mixes.size(); i++) {
            GasMix mix = details.gasMixes().get(i);
            Map<String, Object> written = (Map<String, Object>) mixes.get(i);
            String what = where + "mix " + i + " ";
            assertEquals(new JsonReader.Number(String.valueOf(mix.index())), written.get("index"));
            assertDouble(OptionalDouble.of(mix.oxygen()), written.get("oxygenFraction"), what);
            assertDouble(OptionalDouble.of(mix.helium()), written.get("heliumFraction"), what);
            assertDouble(OptionalDouble.of(mix.nitrogen()), written.get("nitrogenFraction"), what);
            assertEquals(word(mix.usage()), written.get("usage"), what + "usage");
        }
        List<Object> tanks = (List<Object>) entry.get("tanks");
        assertEquals(details.tanks().size(), tanks.size(), where + "tanks");
        for (int i = 0; i < tanks.size(); i++) {
            Tank tank = details.tanks().get(i);
            Map<String, Object> written = (Map<String, Object>) tanks.get(i);
            String what = where + "tank " + i + " ";
            boolean sized = tank.volumeType() != Tank.VolumeType.NONE;
            assertEquals(new JsonReader.Number(String.valueOf(tank.index())), written.get("index"));
            assertEquals(number(tank.gasMix()), written.get("gasMix"), what + "mix");
            assertEquals(word(tank.usage()), written.get("usage"), what + "usage");
            assertEquals(word(Optional.of(tank.volumeType())), written.get("volumeType"), what);
            assertDouble(sized ? OptionalDouble.of(tank.volume()) : OptionalDouble.empty(),
                         written.get("volumeLitres"), what + "volume");
            assertDouble(sized ? OptionalDouble.of(tank.workPressure()) : OptionalDouble.empty(),
                         written.get("workPressureBar"), what + "working pressure");
            assertDouble(OptionalDouble.of(tank.beginPressure()), written.get("beginPressureBar"),
                         what + "begin");
            assertDouble(OptionalDouble.of(tank.endPressure()), written.get("endPressureBar"),
                         what + "end");
        }

        DiveSamples samples = details.samples();
        Map<String, Object> series = (Map<String, Object>) entry.get("sampleSeries");
        assertEquals(List.of("timeSeconds", "depth", "pressure", "temperature", "event",
                             "remainingBottomTime", "heartRate", "bearing", "setpoint", "ppo2",
                             "cns", "deco", "gasSwitch"),
                     List.copyOf(series.keySet()), where);
        assertDoubles(samples.times(), series.get("timeSeconds"), where + "times");
        // Per kind: its column names and the arrays they must hold, doubles or unsigned ints.
        Object[][] kinds = {
            {"depth", samples.depthSamples(), "metres", samples.depths()},
            {"pressure", samples.pressureSamples(), "tank", samples.pressureTanks(), "bar",
             samples.pressures()},
            {"temperature", samples.temperatureSamples(), "celsius", samples.temperatures()},
            {"event", samples.eventSamples(), "type", samples.eventTypes(), "time",
             samples.eventTimes(), "flags", samples.eventFlags(), "value", samples.eventValues()},
            {"remainingBottomTime", samples.remainingBottomTimeSamples(), "minutes",
             samples.remainingBottomTimes()},
            {"heartRate", samples.heartRateSamples(), "beatsPerMinute", samples.heartRates()},
            {"bearing", samples.bearingSamples(), "degrees", samples.bearings()},
            {"setpoint", samples.setpointSamples(), "bar", samples.setpoints()},
            {"ppo2", samples.ppo2Samples(), "sensor", samples.ppo2Sensors(), "bar",
             samples.ppo2()},
            {"cns", samples.cnsSamples(), "fraction", samples.cns()},
            {"deco", samples.decoSamples(), "type", samples.decoTypes(), "timeSeconds",
             samples.decoTimes(), "depthMetres", samples.decoDepths(), "timeToSurfaceSeconds",
             samples.decoTimesToSurface()},
            {"gasSwitch", samples.gasSwitchSamples(), "gasMix", samples.gasSwitches()}};
        for (Object[] kind : kinds) {
            Map<String, Object> written = (Map<String, Object>) series.get(kind[0]);
            String what = where + kind[0];
            assertUnsigned((int[]) kind[1], false, written.get("sample"), what + " sample");
            List<String> columns = new ArrayList<>(List.of("sample"));
            for (int column = 2; column < kind.length; column += 2) {
                String name = (String) kind[column];
                columns.add(name);
                Object value = written.get(name);
                boolean absent = name.equals("sensor") || name.equals("timeToSurfaceSeconds");
                if (kind[column + 1] instanceof double[] doubles) {
                    assertDoubles(doubles, value, what + " " + name);
                } else {
                    assertUnsigned((int[]) kind[column + 1], absent, value, what + " " + name);
                }
            }
            // Beside a type, its name.
            if (kind[0].equals("event") || kind[0].equals("deco")) {
                columns.add(2, "name");
            }
            assertEquals(columns, List.copyOf(written.keySet()), what);
        }
    }

    @SuppressWarnings("unchecked")
    private static void assertJsonHolds(Path file, String port, Device device, Detailed download)
        throws Exception {
        List<Dive> dives = download.dives();
        Map<String, Object> json = (Map<String, Object>) JsonReader.read(Files.readString(file));
        assertEquals(List.of("formatVersion", "port", "device", "dives"),
                     List.copyOf(json.keySet()));
        assertEquals(new JsonReader.Number("2"), json.get("formatVersion"));
        assertEquals(port, json.get("port"));
        assertEquals(Map.of("vendor", device.getVendor(), "product", device.getProduct(),
                            "serial", device.getSerial()),
                     json.get("device"));
        List<Object> written = (List<Object>) json.get("dives");
        assertEquals(dives.size(), written.size());
        for (int i = 0; i < dives.size(); i++) {
            Dive dive = dives.get(i);
            Map<String, Object> entry = (Map<String, Object>) written.get(i);
            String where = "dive " + (i + 1) + " ";
            // Every key of the first format first and as it was, then the details.
            List<String> keys = new ArrayList<>(FIRST_FORMAT_KEYS);
            keys.addAll(DETAIL_KEYS);
            assertEquals(keys, List.copyOf(entry.keySet()), where);
            assertDetailsHeld(download.details().get(i), entry, where);
            assertEquals(new JsonReader.Number(String.valueOf(i + 1)), entry.get("number"));
            assertEquals(dive.getDateTime(), entry.get("dateTime"));
            assertFloat(dive.getDiveTime(), entry.get("diveTimeSeconds"), where + "dive time");
            assertFloat(dive.getMaxDepth(), entry.get("maxDepthMetres"), where + "max depth");
            assertEquals(Map.of("oxygenPercent",
                                new JsonReader.Number(String.valueOf(dive.getGas().getOxygen())),
                                "heliumPercent",
                                new JsonReader.Number(String.valueOf(dive.getGas().getHelium())),
                                "name", dive.getGas().toString()),
                         entry.get("gas"));
            assertEquals(new JsonReader.Number(String.valueOf(dive.getSampleCount())),
                         entry.get("samples"));
            Map<String, Object> profile = (Map<String, Object>) entry.get("profile");
            assertEquals(List.of("timeSeconds", "depthMetres", "pressureBar", "temperatureCelsius",
                                 "eventType"),
                         List.copyOf(profile.keySet()));
            Float[][] series = {dive.getTimeProfile(), dive.getDepthProfile(),
                                dive.getPressureProfile(), dive.getTemperatureProfile()};
            int name = 0;
            for (String key : profile.keySet()) {
                List<Object> values = (List<Object>) profile.get(key);
                assertEquals(dive.getSampleCount(), values.size(), where + key);
                for (int sample = 0; sample < values.size(); sample++) {
                    if (name < series.length) {
                        assertFloat(series[name][sample], values.get(sample),
                                    where + key + "[" + sample + "]");
                    } else {
                        Integer event = dive.getEventProfile()[sample];
                        assertEquals(event == null ? null : new JsonReader.Number(event.toString()),
                                     values.get(sample), where + key + "[" + sample + "]");
                    }
                }
                name++;
            }
        }
    }

    /**
     * The SVG files of a --plot directory, parsed, in file-name order: each dive's date and time,
     * a repeat of one in the same download followed by _2, _3, ...
     */
    private static List<Document> plots(Path directory, List<Dive> dives) throws Exception {
        List<Path> files;
        try (Stream<Path> listing = Files.list(directory)) {
            files = listing.sorted().toList();
        }
        assertEquals(dives.size(), files.size(), files::toString);
        Map<String, Integer> repeats = new HashMap<>();
        DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
        factory.setNamespaceAware(true);
        List<Document> documents = new ArrayList<>();
        for (int i = 0; i < files.size(); i++) {
            Dive dive = dives.get(i);
            String name = files.get(i).getFileName().toString();
            int repeat = repeats.merge(dive.getDateTime(), 1, Integer::sum);
            assertEquals("dive-" + dive.getDateTime().replace(' ', '_').replace(':', '-')
                             + (repeat > 1 ? "_" + repeat : "") + ".svg",
                         name);
            Document document = factory.newDocumentBuilder().parse(files.get(i).toFile());
            Element root = document.getDocumentElement();
            assertEquals("svg", root.getLocalName(), name);
            assertEquals(SVG_NAMESPACE, root.getNamespaceURI(), name);
            String title = document.getElementsByTagNameNS(SVG_NAMESPACE, "title").item(0)
                               .getTextContent();
            assertEquals("Dive " + (i + 1) + ": " + dive.getDateTime() + ", " + dive.getGas(),
                         title);
            String text = root.getTextContent();
            assertTrue(text.contains("Time (min)") && text.contains("Depth (m)"), name);
            documents.add(document);
        }
        return documents;
    }

    /** The elements of a plot of one tag and class, such as the polylines of the depth. */
    private static List<Element> drawn(Document plot, String tag, String kind) {
        var nodes = plot.getElementsByTagNameNS(SVG_NAMESPACE, tag);
        List<Element> elements = new ArrayList<>();
        for (int i = 0; i < nodes.getLength(); i++) {
            Element element = (Element) nodes.item(i);
            if (element.getAttribute("class").equals(kind)) {
                elements.add(element);
            }
        }
        return elements;
    }

    /** The number of points of each line of a series, a lone dot counting as a line of one. */
    private static List<Integer> lines(Document plot, String series) {
        List<Integer> lines = new ArrayList<>();
        for (Element line : drawn(plot, "polyline", series)) {
            lines.add(line.getAttribute("points").split(" ").length);
        }
        for (int i = 0; i < drawn(plot, "circle", series).size(); i++) {
            lines.add(1);
        }
        return lines;
    }

    /** The points of a plot's depth line; none when the plot has no line. */
    private static int plottedPoints(Document plot) {
        return lines(plot, "depth").stream().mapToInt(Integer::intValue).sum();
    }

    @Test
    void downloadWritesJsonThatReadsBackExactlyAndOnePlotPerDive() throws Exception {
        Detailed expected = downloadWithDetails("dcsim:builtin");
        Path json = temporary.resolve("dives.json");
        Path plots = temporary.resolve("plots");

        ChildProcess child =
            Tool.run("download", "--json", json.toString(), "--plot", plots.toString())
                .assertClean(0);

        assertEquals("", errors(child), child::toString);
        assertJsonHolds(json, "dcsim:builtin", new Device("Dcsim", "Reef Explorer", "20240401"),
                        expected);
        List<Document> documents = plots(plots, expected.dives());
        for (int i = 0; i < documents.size(); i++) {
            assertEquals(expected.dives().get(i).getSampleCount(),
                         plottedPoints(documents.get(i)));
        }
        assertTrue(child.stdout().contains(BUILTIN_SUMMARY + "\nWrote " + json + ".\nWrote 20 "
                                           + "dive profiles to " + plots + ".\n"),
                   child::toString);
    }

    // Values JSON numbers cannot hold, empty entries, two dives without samples or date that the
    // application deems equal (both are shown), and a port name that needs escaping.
    @Test
    void oddValuesStayValidJsonAndSvg() throws Exception {
        Path scenario = temporary.resolve("dive \"log\" back\\slash\ttab.txt");
        Files.writeString(scenario, """
            devinfo 1 2 987654
            dive
            datetime 2024-10-01 10:00:00
            divetime 30:00
            maxdepth 20
            mix 32 0
            time 0; depth 0; temperature nan
            time 10; depth 0.1; pressure 0 inf
            time 20; depth nan; pressure 0 -inf; event 0xFFFFFFFF
            time 30; depth 123456.789; temperature -0.0000001
            time 40
            dive
            divetime 1:00
            dive
            divetime 1:00
            """);
        Detailed expected = downloadWithDetails(scenario.toString());
        Path json = temporary.resolve("odd.json");
        Path plots = temporary.resolve("odd plots");

        ChildProcess child = Tool.run("download", "--port", scenario.toString(), "--json",
                                      json.toString(), "--plot", plots.toString())
                                 .assertClean(0);

        assertEquals("", errors(child), child::toString);
        assertJsonHolds(json, scenario.toString(),
                        new Device("Dcsim", "Reef Explorer", "987654"), expected);
        assertEquals(3, expected.dives().size());
        assertEquals(3, tableRows(child.stdout()).size(), child::toString);
        List<Document> documents = plots(plots, expected.dives());
        for (Document empty : documents.subList(0, 2)) {
            assertEquals(0, plottedPoints(empty), "a dive without samples");
            assertTrue(empty.getDocumentElement().getTextContent().contains("No depth samples"));
        }
        assertEquals(3, plottedPoints(documents.get(2)), "samples with a finite depth");
    }

    /** The closed-circuit trimix dive of the real-library tests, as a scenario file. */
    static Path closedCircuitScenario() {
        return TestEnvironment.path("diveconnector.fixtures")
            .resolveSibling("scenarios/closed_circuit_trimix.txt");
    }

    /** The value at a path of keys and list indexes in a JSON value. */
    @SuppressWarnings("unchecked")
    private static Object at(Object json, Object... path) {
        for (Object step : path) {
            json = step instanceof Integer index ? ((List<Object>) json).get(index)
                                                 : ((Map<String, Object>) json).get(step);
        }
        return json;
    }

    private static List<JsonReader.Number> numbers(int... values) {
        return Arrays.stream(values).mapToObj(v -> new JsonReader.Number(String.valueOf(v)))
            .toList();
    }

    // Everything the computer recorded, through --json value by value, in the table and in the
    // plots: the closed-circuit trimix dive, two events at one second, the start with and without
    // an offset from UTC, a date no calendar has, values not given or no number, and ceilings
    // broken by a no-stop time.
    @Test
    @SuppressWarnings("unchecked")
    void jsonTableAndPlotsCarryEveryDetail() throws Exception {
        Path twoEvents = Files.writeString(temporary.resolve("two-events.txt"), """
            devinfo 1 2 5
            dive
            datetime 2024-06-01 10:00:00 -03:30
            time 0; depth 0
            time 10; depth 6.5; event bookmark; event ascent 10 begin 3; event 0xFFFFFFFF
            dive
            datetime 2024-06-02 10:00:00 +05:45
            temperature-minimum 4.5
            divemode scr
            tank 0 metric 12 232 nan 50
            dive
            datetime 2024-06-03 10:00:00 Z
            mix 21 0
            time 0; depth 10; deco decostop 60 6
            time 10; depth 10; deco ndl 99 0; gasmix 0
            time 20; depth 10; deco decostop 60 3; deco decostop 60 4.5
            time 30; depth 9; deco decostop 60 3; gasmix 7
            dive
            datetime 2024-06-31 10:00:00 +01:00
            """);
        boolean older = TestEnvironment.olderApi();
        // The port, the serial, paths into the document with the values they must hold, the
        // table's first rows, and per plot its gas switches and the points of each ceiling area
        // (its line's and two at the surface).
        Object[][] cases = {
            {closedCircuitScenario(), "439041101", new Object[][] {
                {List.of(0, "startTime"), "2024-06-04T08:00:00"},
                {List.of(0, "utcOffsetSeconds"), null},
                {List.of(0, "diveMode"), "closed_circuit"},
                {List.of(0, "gasMixes", 3, "usage"), older ? null : "diluent"},
                {List.of(0, "tanks", 1, "usage"), older ? null : "oxygen"},
                {List.of(0, "decoModel", "gradientFactorHighPercent"), new JsonReader.Number("70")},
                {List.of(0, "sampleSeries", "event", "name"), List.of("bookmark")},
                {List.of(0, "sampleSeries", "gasSwitch", "gasMix"), numbers(3, 1, 2)}},
             // No minimum temperature field: the coldest sample.
             List.of(List.of("1", "2024-06-04 08:00:00", "0:49:40", "60.0 m", "32.4 m",
                             "11.0 \u00b0C", "CCR", "Tx 10/50", "200/165 200/120 210/150 bar",
                             "298")),
             Map.of("dive-2024-06-04_08-00-00.svg",
                    List.of(List.of("Gas switch to Tx 10/50" + (older ? "" : " (diluent)")
                                        + " at 0 min",
                                    "Gas switch to EAN50 at 27 min",
                                    "Gas switch to Oxygen at 37 min"),
                            List.of(248 + 2)))},
            {twoEvents, "5", new Object[][] {
                {List.of(0, "startTime"), "2024-06-01T10:00:00-03:30"},
                {List.of(0, "utcOffsetSeconds"), new JsonReader.Number("-12600")},
                // Two events at one second, both kept; a type libdivecomputer does not name.
                {List.of(0, "sampleSeries", "event", "name"),
                 Arrays.asList("bookmark", "ascent", null)},
                {List.of(0, "sampleSeries", "event", "sample"), numbers(1, 1, 1)},
                {List.of(0, "sampleSeries", "event", "type"),
                 List.of(new JsonReader.Number("8"), new JsonReader.Number("3"),
                         new JsonReader.Number("4294967295"))},
                {List.of(0, "diveMode"), null},
                {List.of(0, "gasMixes"), List.of()},
                {List.of(1, "startTime"), "2024-06-02T10:00:00+05:45"},
                {List.of(2, "startTime"), "2024-06-03T10:00:00+00:00"},
                {List.of(1, "tanks", 0, "beginPressureBar"), "NaN"},
                {List.of(3, "startTime"), null},
                {List.of(3, "dateTime"), "2024-06-31 10:00:00"}},
             List.of(List.of("1", "2024-06-01 10:00:00", "0:00:00", "6.5 m", "-", "-", "-",
                             "Unknown", "-", "2"),
                     List.of("2", "2024-06-02 10:00:00", "0:00:00", "0.0 m", "-",
                             "4.5 \u00b0C", "SCR", "Unknown", "?/50 bar", "0")),
             Map.of("dive-2024-06-01_10-00-00.svg", List.of(List.of(), List.of()),
                    // Of two statuses at one time the last counts.
                    "dive-2024-06-03_10-00-00.svg",
                    List.of(List.of("Gas switch to Air at 0.2 min",
                                    "Gas switch to mix 7 at 0.5 min"),
                            List.of(1 + 2, 2 + 2)))}};
        for (Object[] c : cases) {
            String port = c[0].toString();
            Detailed download = downloadWithDetails(port);
            Path json = temporary.resolve("details.json");
            Path plots = temporary.resolve("plots of " + c[1]);

            ChildProcess child = Tool.run("download", "--port", port, "--json", json.toString(),
                                          "--plot", plots.toString())
                                     .assertClean(0);

            assertEquals("", errors(child), child::toString);
            assertJsonHolds(json, port, new Device("Dcsim", "Reef Explorer", (String) c[1]),
                            download);
            Object dives = at(JsonReader.read(Files.readString(json)), "dives");
            for (Object[] check : (Object[][]) c[2]) {
                List<?> path = (List<?>) check[0];
                assertEquals(check[1], at(dives, path.toArray()), port + " " + path);
            }
            List<?> rows = (List<?>) c[3];
            assertEquals(rows, tableRows(child.stdout()).subList(0, rows.size()).stream()
                                   .map(List::of).toList(),
                         child::toString);
            DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
            factory.setNamespaceAware(true);
            for (Map.Entry<String, List<List<?>>> plot :
                 ((Map<String, List<List<?>>>) c[4]).entrySet()) {
                Document document = factory.newDocumentBuilder()
                                        .parse(plots.resolve(plot.getKey()).toFile());
                List<String> switches = new ArrayList<>();
                for (Element mark : drawn(document, "g", "gas-switch")) {
                    switches.add(mark.getElementsByTagNameNS(SVG_NAMESPACE, "title").item(0)
                                     .getTextContent());
                }
                List<Integer> ceilings = new ArrayList<>();
                for (Element area : drawn(document, "polygon", "ceiling")) {
                    ceilings.add(area.getAttribute("points").split(" ").length);
                }
                assertEquals(plot.getValue(), List.of(switches, ceilings), plot.getKey());
                List<String> legend = legend(document);
                assertEquals(!ceilings.isEmpty(), legend.contains("Deco ceiling"), plot.getKey());
                assertEquals(!switches.isEmpty(), legend.contains("Gas switch"), plot.getKey());
            }
        }
    }

    /** The texts of a plot's legend, in order. */
    private static List<String> legend(Document plot) {
        List<String> entries = new ArrayList<>();
        var groups = plot.getElementsByTagNameNS(SVG_NAMESPACE, "g");
        for (int i = 0; i < groups.getLength(); i++) {
            Element group = (Element) groups.item(i);
            if (group.getAttribute("class").equals("legend")) {
                var texts = group.getElementsByTagNameNS(SVG_NAMESPACE, "text");
                for (int t = 0; t < texts.getLength(); t++) {
                    entries.add(texts.item(t).getTextContent());
                }
            }
        }
        return entries;
    }

    @Test
    void plotsDrawWhatEachDiveHasWithGapsAsGapsAndEventsInTheLegend() throws Exception {
        StringBuilder gaps = new StringBuilder("dive\ndatetime 2024-07-05 10:00:00\n");
        StringBuilder sparse = new StringBuilder("dive\ndatetime 2024-07-06 10:00:00\n");
        for (int i = 0; i < 20; i++) {
            gaps.append("time ").append(i * 10).append("; depth ").append(i % 7 + 1);
            // Temperature stops for ten samples; the pressure starts only halfway.
            if (i < 5 || i >= 15) {
                gaps.append("; temperature ").append(20 - i * 0.1);
            }
            if (i >= 10) {
                gaps.append("; pressure 0 ").append(200 - i);
            }
            gaps.append('\n');
            sparse.append("time ").append(i * 10).append("; depth 3");
            if (i % 3 == 0) {
                sparse.append("; temperature 18");
            }
            sparse.append('\n');
        }
        Path scenario = Files.writeString(temporary.resolve("plots.txt"), """
            dive
            datetime 2024-07-01 10:00:00
            profile 0:00@0 10:00@10 20:00@0
            dive
            datetime 2024-07-02 10:00:00
            time 0; event bookmark
            time 60; event 11
            time 90; event 25
            time 120; event violation
            time 150; event 0xFFFFFFFF
            dive
            datetime 2024-07-03 10:00:00
            time 0; depth 5; temperature 20; pressure 0 200
            """ + gaps + sparse + rawDive(2025, 1, 0, 3.4e38, 0));
        List<Dive> dives = downloadHere(scenario.toString());
        Path directory = temporary.resolve("plots");

        Tool.run("download", "--port", scenario.toString(), "--plot", directory.toString())
            .assertClean(0);

        List<Document> plots = plots(directory, dives);
        Document depthOnly = plots.get(0);
        assertEquals(List.of(121), lines(depthOnly, "depth"));
        assertEquals(List.of(), lines(depthOnly, "temperature"));
        assertEquals(List.of(), lines(depthOnly, "pressure"));
        assertEquals(List.of("Depth (m)"), legend(depthOnly));
        assertFalse(depthOnly.getDocumentElement().getTextContent().contains("Temperature"));

        Document eventsOnly = plots.get(1);
        assertEquals(List.of(), lines(eventsOnly, "depth"));
        assertTrue(eventsOnly.getDocumentElement().getTextContent().contains("No depth samples"));
        assertEquals(5, drawn(eventsOnly, "circle", "event").size()
                            + drawn(eventsOnly, "g", "event").size(),
                     "every event is marked");
        assertEquals(2, drawn(eventsOnly, "g", "event").size(), "both kinds of gas change");
        assertEquals(List.of("Depth (m)", "Violation", "Bookmark", "Gas change", "Event 4294967295"),
                     legend(eventsOnly));

        Document single = plots.get(2);
        for (String series : List.of("depth", "temperature", "pressure")) {
            assertEquals(List.of(1), lines(single, series), series + ": a visible dot");
        }
        assertEquals(List.of("Depth (m)", "Temperature (\u00b0C)", "Tank pressure (bar)"),
                     legend(single));

        Document huge = plots.get(5);
        assertEquals(List.of(3), lines(huge, "depth"));
        var texts = huge.getElementsByTagNameNS(SVG_NAMESPACE, "text");
        for (int i = 0; i < texts.getLength(); i++) {
            String text = texts.item(i).getTextContent();
            assertTrue(text.length() < 60 && !text.matches(".*[0-9]{12}.*"), text);
        }

        Document gapped = plots.get(3);
        assertEquals(List.of(20), lines(gapped, "depth"));
        assertEquals(List.of(5, 5), lines(gapped, "temperature"), "the gap stays a gap");
        assertEquals(List.of(10), lines(gapped, "pressure"), "no pressure drawn as zero");
        assertEquals(List.of(7), lines(plots.get(4), "temperature"), "a sparse series is a line");
    }

    @Test
    void missingPortIsAUsageErrorWithoutASimulatedComputer() throws Exception {
        List<Path> classPath = List.of(TestEnvironment.path("diveconnector.tool.jar"),
                                       TestEnvironment.path("diveconnector.java.jar"));
        String[][] cases = {
            {"download needs --port NAME", "download"},
            {"download needs --product P or --model \"V P\"", "download", "--port",
             "/dev/ttyUSB0"},
            {"download needs --product P", "download", "--port", "/dev/ttyUSB0", "--vendor",
             "Dcsim"},
        };
        for (String[] misuse : cases) {
            String[] arguments = List.of(misuse).subList(1, misuse.length).toArray(new String[0]);
            ChildProcess child =
                ChildProcess
                    .run(TestEnvironment.childJvm(classPath, "brenquill.main.java.tool.Main",
                                                  arguments),
                         Map.of())
                    .assertClean(2);
            assertEquals("", child.stdout(), child::toString);
            assertTrue(child.stderr().startsWith("diveconnector: " + misuse[0] + " ("),
                       child::toString);
            assertTrue(child.stderr().contains("; see 'diveconnector download --help'"),
                       child::toString);
        }
    }

    /** A computer whose transfer fails halfway with libdivecomputer's `status`. */
    private Path failingComputer(String status) throws Exception {
        return Files.writeString(temporary.resolve(status + ".txt"),
                                 "transfer 2 0\nfail-after 1 " + status + "\n"
                                     + "dive\nprofile 0:00@0 5:00@10 10:00@0\n".repeat(2));
    }

    // What happened and what to do, from the status, the stage and the transport; a library
    // failure points at the support log on its last line.
    @Test
    void downloadFailuresSayInWordsWhatHappenedAndWhatToDo() throws Exception {
        Path file = Files.writeString(temporary.resolve("plain file"), "");
        String again = "Check the cable, or keep the computer close, and try again.";
        String[][] cases = {
            {NO_PORT.substring("diveconnector: ".length()), "--port", "sim:absent"},
            {"No port was given (--port is empty).\n" + SEE_SCAN + LOG_POINTER, "--port", ""},
            {"/dev/null is not a serial port.\nIs it the right port? " + SEE_SCAN + LOG_POINTER,
             "--port", "/dev/null"},
            {"Dcsim Reef Explorer did not answer on " + failingComputer("TIMEOUT") + ".\nIs it in "
                 + "its download mode, and is the model right?" + LOG_POINTER,
             "--port", failingComputer("TIMEOUT").toString()},
            {"Dcsim Reef Explorer did not answer as its model does.\nIs the model right? See "
                 + "'diveconnector list'." + LOG_POINTER,
             "--port", failingComputer("PROTOCOL").toString()},
            {"The connection to Dcsim Reef Explorer broke.\n" + again + LOG_POINTER, "--port",
             failingComputer("IO").toString(), "--log", temporary.resolve("io.log").toString()},
            {"Fakewater Steel Sim has no serial connection.\nIt connects by USB HID or BLE: give a "
                 + "port of that kind." + LOG_POINTER,
             "--port", "serial:/dev/ttyUSB0", "--vendor", "Fakewater", "--product", "Steel Sim"},
            {"No Fakewater Steel Sim is plugged in.\nConnect it by USB HID and switch it on."
                 + LOG_POINTER,
             "--port", "/dev/ttyUSB0", "--vendor", "Fakewater", "--product", "Steel Sim"},
            {"This build cannot reach a computer by IrDA.\nlibdivecomputer has IrDA on Windows "
                 + "only." + LOG_POINTER,
             "--port", "0", "--vendor", "Simtec", "--product", "Aladin Sim"},
            {"BLE cannot be used: no BlueZ, or the computer has no data service.\nIs bluetoothd "
                 + "running (sudo systemctl start bluetooth)?" + LOG_POINTER,
             "--port", "ble:00:11:22:33:44:55", "--vendor", "Mockdive", "--product", "Teric Sim"},
            {"'ble:nonsense' is not ble: and a Bluetooth address.\n" + SEE_SCAN + LOG_POINTER,
             "--port", "ble:nonsense", "--vendor", "Mockdive", "--product", "Teric Sim"},
            {"cannot write " + temporary.resolve("absent/dives.json") + ": no directory "
                 + temporary.resolve("absent"),
             "--json", temporary.resolve("absent/dives.json").toString()},
            {"cannot write " + temporary + ": it is a directory", "--json", temporary.toString()},
            {"cannot create the directory " + file + ": a file of that name is in the way",
             "--plot", file.toString()},
            // Directories that refuse new files even to root.
            {"cannot write /proc/dives.json: no such file or directory", "--json",
             "/proc/dives.json"},
            {"cannot create the directory /proc/plots: no such file or directory", "--plot",
             "/proc/plots"},
        };
        // No BlueZ: the machine's own system bus is left alone.
        Map<String, String> environment = Map.of("JDK_JAVA_OPTIONS", "-Xcheck:jni",
                                                 "DBUS_SYSTEM_BUS_ADDRESS",
                                                 "unix:path=" + temporary.resolve("no bus"));
        for (String[] failure : cases) {
            List<String> arguments = new ArrayList<>(List.of("download"));
            arguments.addAll(List.of(failure).subList(1, failure.length));
            ChildProcess child = ChildProcess.run(Tool.command(arguments.toArray(new String[0])),
                                                  environment)
                                     .assertClean(1);
            String expected = failure[0].replace(LOG_POINTER, failure.length > 4
                                                          && failure[3].equals("--log")
                                                          ? " (Details in " + failure[4] + ".)"
                                                          : LOG_POINTER);
            assertEquals("diveconnector: " + expected, errors(child), child::toString);
            assertFalse(child.stdout().contains("Date and time"), child::toString);
        }
        assertTrue(listing(temporary).contains(Path.of("io.log")), "the log named is written");
    }

    @Test
    void modelNamesMatchInAnyCaseAndAProductOfOneVendorIsEnough() throws Exception {
        Path computer = Files.writeString(temporary.resolve("computer.txt"), "devinfo 1 2 3\n");
        String[][] names = {
            {"Dcsim Reef Explorer", "--vendor", "dcsim", "--product", "reef explorer"},
            {"Dcsim Reef Classic", "--product", "REEF CLASSIC"},
            {"Testsub Atom Sim", "--model", "testsub atom sim"},
            {"Mockdive Petrel Sim", "--model=Petrel Sim"},
        };
        for (String[] name : names) {
            List<String> arguments = new ArrayList<>(List.of("download", "--port",
                                                             computer.toString()));
            arguments.addAll(List.of(name).subList(1, name.length));
            ChildProcess child = Tool.run(arguments.toArray(new String[0])).assertClean(0);
            assertTrue(child.stdout().contains("\nDownloading from " + name[0] + " on " + computer
                                               + ".\n"),
                       child::toString);
            assertTrue(child.stdout().endsWith("\n0 dives from " + name[0] + ", serial 3.\n"),
                       child::toString);
        }
        String[][] unknown = {
            {"No model 'reef explorr': did you mean Dcsim Reef Explorer?", "--product",
             "reef explorr"},
            {"No model 'Reef Explorer' from vendor 'Nobody': did you mean Dcsim Reef Explorer?",
             "--vendor", "Nobody"},
            {"No model 'Atom Sim' from vendor 'Dcsim': did you mean Testsub Atom Sim?", "--vendor",
             "Dcsim", "--product", "Atom Sim"},
            {"No model 'Mockdive Perdix'; see 'diveconnector list'", "--model",
             "Mockdive Perdix"},
        };
        for (String[] failure : unknown) {
            List<String> arguments = new ArrayList<>(List.of("download"));
            arguments.addAll(List.of(failure).subList(1, failure.length));
            ChildProcess child = Tool.run(arguments.toArray(new String[0])).assertClean(1);
            assertEquals("", child.stdout(), "nothing starts\n" + child);
            assertEquals("diveconnector: " + failure[0], errors(child), child::toString);
        }
    }

    /** The names in a directory, sorted; hidden temporary files included. */
    static List<Path> listing(Path directory) throws Exception {
        try (Stream<Path> files = Files.list(directory)) {
            return files.map(Path::getFileName).sorted().toList();
        }
    }

    @Test
    void dumpWritesTheComputersMemoryWhole() throws Exception {
        byte[] expected =
            Downloads.connector().dumpDeviceMemory("dcsim:builtin", "Dcsim", "Reef Explorer");
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        Path file = temporary.resolve("memory.bin");

        ChildProcess child = Tool.run("dump", file.toString()).assertClean(0);

        assertEquals("", errors(child), child::toString);
        assertEquals("Simulated dive computer: this build uses dcsim, not libdivecomputer.\n"
                         + "Dumping the memory of Dcsim Reef Explorer on dcsim:builtin.\nWrote "
                         + expected.length + " bytes to " + file + ".\n",
                     child.stdout());
        assertArrayEquals(expected, Files.readAllBytes(file));
    }

    @Test
    void aFailedDumpLeavesThePreviousFileAlone() throws Exception {
        Path scenario = temporary.resolve("failing.scenario");
        Files.writeString(scenario, "transfer 2 0\nfail-after 1 IO\n"
                                        + "dive\nraw 0102\ndive\nraw 0304\n");
        Path file = Files.writeString(temporary.resolve("memory.bin"), "the previous dump");

        ChildProcess child = Tool.run("dump", "--port", scenario.toString(), file.toString())
                                 .assertClean(1);

        assertEquals("diveconnector: The connection to Dcsim Reef Explorer broke.\nCheck the "
                         + "cable, or keep the computer close, and try again." + LOG_POINTER,
                     errors(child), child::toString);
        assertEquals("the previous dump", Files.readString(file));
        assertEquals(List.of(scenario.getFileName(), file.getFileName()), listing(temporary),
                     "no temporary file is left");
        assertEquals("diveconnector: dump needs the FILE to write the memory to; see "
                         + "'diveconnector dump --help'",
                     errors(Tool.run("dump").assertClean(2)));
    }

    @Test
    void unwritableTargetsFailBeforeTheTransfer() throws Exception {
        Path readOnly = Files.createDirectory(temporary.resolve("read-only"));
        assertTrue(readOnly.toFile().setWritable(false, false));
        String[][] cases = {
            {"/proc/dives.json", "--json", "/proc/dives.json"},
            {"/proc/plots", "--plot", "/proc/plots"},
            {readOnly.resolve("dives.json").toString(), "--json",
             readOnly.resolve("dives.json").toString()},
            {readOnly.toString(), "--plot", readOnly.toString()},
        };
        for (String[] target : cases) {
            if (target[0].startsWith(readOnly.toString()) && Files.isWritable(readOnly)) {
                continue; // root writes into a read-only directory
            }
            ChildProcess child = Tool.run("download", target[1], target[2]).assertClean(1);
            assertEquals("", child.stdout(), "no transfer starts\n" + child);
            assertTrue(errors(child).startsWith("diveconnector: cannot "), child::toString);
            assertTrue(errors(child).contains(target[0] + ": "), child::toString);
        }
        assertEquals(List.of(), listing(readOnly));
    }

    // A 0444 file is refused by its mode, so also when the tests run as root, who could write it.
    @Test
    void protectedFilesAndUnusableSettingsFailBeforeTheTransfer() throws Exception {
        Path protectedJson = Files.writeString(temporary.resolve("dives.json"), "kept");
        Path protectedDump = Files.writeString(temporary.resolve("memory.bin"), "kept");
        for (Path file : List.of(protectedJson, protectedDump)) {
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("r--r--r--"));
        }
        Path regularFile = Files.writeString(temporary.resolve("a file"), "");
        String[][] cases = {
            {"cannot write " + protectedJson + ": it is read-only", "download", "--json",
             protectedJson.toString()},
            {"cannot write " + protectedDump + ": it is read-only", "dump",
             protectedDump.toString()},
            {"cannot use the cache " + regularFile + ": it is not a directory", "download",
             "--new-only", "--cache", regularFile.toString()},
            {"cannot use the cache /proc/diveconnector: ", "download", "--all", "--cache",
             "/proc/diveconnector"},
            {"cannot open the log " + temporary + ": it is a directory", "download", "--log",
             temporary.toString()},
            {"cannot open the log /proc/diveconnector/log.txt: ", "download", "--log",
             "/proc/diveconnector/log.txt"},
        };
        for (String[] failure : cases) {
            ChildProcess child = Tool.run(List.of(failure).subList(1, failure.length)
                                              .toArray(String[]::new))
                                     .assertClean(1);
            assertEquals("", child.stdout(), "no transfer starts\n" + child);
            assertTrue(errors(child).startsWith("diveconnector: " + failure[0])
                           && !errors(child).contains("\n"),
                       child::toString);
        }
        assertEquals("kept", Files.readString(protectedJson));
        assertEquals("kept", Files.readString(protectedDump));
        assertEquals(List.of(regularFile.getFileName(), protectedJson.getFileName(),
                             protectedDump.getFileName()),
                     listing(temporary));
    }

    @Test
    void theDefaultCacheIsUnderTheEnvironmentsHome() throws Exception {
        Path home = temporary.resolve("h");
        Map<String, String> environment =
            Map.of("JDK_JAVA_OPTIONS", "-Xcheck:jni", "XDG_CACHE_HOME", "", "HOME",
                   home.toString());
        ChildProcess.run(Tool.command("download", "--new-only"), environment).assertClean(0);
        assertEquals(List.of(Path.of(String.format("vyper-%08X.bin", 20240401))),
                     listing(home.resolve(".cache").resolve("diveconnector")));
    }

    @Test
    void emptyAndUnusableFileNamesAreUsageErrors() throws Exception {
        assertUsageErrors(new String[][] {
            {"--json needs a file name, not an empty one", "download", "--json", ""},
            {"--plot needs a directory name, not an empty one", "download", "--plot", ""},
        });
        // An ASCII-only locale cannot name the file; the JVM reads the argument without the é.
        String unusable = "caf\u00e9.json";
        ChildProcess child = ChildProcess
                                 .run(Tool.command("download", "--json", unusable),
                                      Map.of("JDK_JAVA_OPTIONS", "-Xcheck:jni", "LC_ALL", "C"))
                                 .assertClean(2);
        assertEquals("", child.stdout(), child::toString);
        assertTrue(errors(child).matches("diveconnector: --json 'caf.*\\.json' is no file name "
                                         + "this system can use; see 'diveconnector download "
                                         + "--help'"),
                   child::toString);
        assertEquals(List.of(), listing(temporary));
    }

    /** Runs the tool with its standard output on /dev/full. */
    private static ChildProcess toolIntoFullDisk(String... arguments) throws Exception {
        List<String> command = new ArrayList<>(List.of("sh", "-c", "exec \"$@\" > /dev/full",
                                                       "sh"));
        command.addAll(Tool.command(arguments));
        return ChildProcess.run(command, Tool.JNI_CHECKS);
    }

    @Test
    void aFullStandardOutputOrJsonFileIsAFailure() throws Exception {
        for (String[] arguments : new String[][] {{"list"}, {"download"}}) {
            ChildProcess child = toolIntoFullDisk(arguments).assertClean(1);
            assertEquals("diveconnector: cannot write the standard output", errors(child),
                         child::toString);
        }
        ChildProcess json = Tool.run("download", "--json", "/dev/full").assertClean(1);
        assertEquals("diveconnector: cannot write /dev/full: No space left on device",
                     errors(json), json::toString);
        ChildProcess jsonOut = toolIntoFullDisk("download", "--json", "-").assertClean(1);
        assertTrue(errors(jsonOut).endsWith(BUILTIN_SUMMARY + "\ndiveconnector: cannot write the "
                                            + "standard output: No space left on device"),
                   jsonOut::toString);
        // The JSON, far more than a pipe holds, into a reader that goes away.
        List<String> command = new ArrayList<>(
            List.of("bash", "-c", "set -o pipefail; \"$@\" | head -c 10", "bash"));
        command.addAll(Tool.command("download", "--json", "-"));
        ChildProcess closed = ChildProcess.run(command, Tool.JNI_CHECKS).assertClean(141);
        assertTrue(errors(closed).endsWith(BUILTIN_SUMMARY), closed::toString);
    }

    @Test
    void jsonToTheStandardOutputPutsTheTableOnTheStandardError() throws Exception {
        Detailed expected = downloadWithDetails("dcsim:builtin");

        ChildProcess child = Tool.run("download", "--json", "-").assertClean(0);

        Path json = Files.writeString(temporary.resolve("out.json"), child.stdout());
        assertJsonHolds(json, "dcsim:builtin", new Device("Dcsim", "Reef Explorer", "20240401"),
                        expected);
        assertEquals(20, tableRows(child.stderr()).size(), child::toString);
        assertTrue(errors(child).endsWith(BUILTIN_SUMMARY), child::toString);
        assertFalse(Files.exists(Path.of("-")), "no file named -");
    }

    private static final List<String> LIBRARY_LINES = List.of("Event: ", "Parsing the ");

    /** The lines of the child's output that the library wrote, not the tool. */
    private static List<String> libraryLines(String output) {
        List<String> lines = new ArrayList<>();
        for (String line : output.split("\n")) {
            if (LIBRARY_LINES.stream().anyMatch(line::startsWith)) {
                lines.add(line);
            }
        }
        return lines;
    }

    @Test
    void theLibrarysLinesShowOnlyWithVerboseAndTheResultsStayTheSame() throws Exception {
        ChildProcess quiet = Tool.run("download").assertClean(0);
        ChildProcess verbose = Tool.run("--verbose", "download").assertClean(0);

        assertEquals(List.of(), libraryLines(quiet.stdout() + quiet.stderr()), quiet::toString);
        assertFalse(libraryLines(verbose.stdout()).isEmpty(), verbose::toString);
        List<String> dives = new ArrayList<>();
        for (String[] row : tableRows(verbose.stdout())) {
            dives.add(String.join("|", row));
        }
        List<String> quietDives = new ArrayList<>();
        for (String[] row : tableRows(quiet.stdout())) {
            quietDives.add(String.join("|", row));
        }
        assertEquals(dives, quietDives);
        assertTrue(quiet.stdout().endsWith(BUILTIN_SUMMARY + "\n"), quiet::toString);

        ChildProcess quietFailure = Tool.run("download", "--port", "sim:absent").assertClean(1);
        ChildProcess verboseFailure =
            Tool.run("--verbose", "download", "--port", "sim:absent").assertClean(1);
        assertEquals(NO_PORT, errors(quietFailure), quietFailure::toString);
        assertTrue(errors(verboseFailure).startsWith(
                       NO_PORT.replace(".\n", ". ([-4]: Error opening device.)\n") + "\n"),
                   verboseFailure::toString);
        assertEquals(List.of(), libraryLines(quietFailure.stdout()), quietFailure::toString);
    }

    @Test
    void aFailedDownloadLeavesTheDiversFilesAsTheyWere() throws Exception {
        Path json = Files.writeString(temporary.resolve("dives.json"), "the diver's old log");
        Path plots = Files.createDirectory(temporary.resolve("plots"));
        Path oldPlot = Files.writeString(plots.resolve("dive-2024-05-04_10-12-00.svg"), "old");

        ChildProcess child = Tool.run("download", "--port", "sim:absent", "--json",
                                      json.toString(), "--plot", plots.toString())
                                 .assertClean(1);

        assertEquals(NO_PORT, errors(child), child::toString);
        assertEquals("the diver's old log", Files.readString(json));
        assertEquals("old", Files.readString(oldPlot));
        assertEquals(List.of(json.getFileName(), plots.getFileName()), listing(temporary));
        assertEquals(List.of(oldPlot.getFileName()), listing(plots));
    }

    @Test
    void aLinkedJsonFileIsReplacedThroughItsLink() throws Exception {
        Path logs = Files.createDirectory(temporary.resolve("logs"));
        Path file = Files.writeString(logs.resolve("dives.json"), "the diver's old log");
        Path link = Files.createSymbolicLink(temporary.resolve("latest.json"), file);

        Tool.run("download", "--json", link.toString()).assertClean(0);

        assertTrue(Files.isSymbolicLink(link), "the link stays a link");
        assertTrue(Files.readString(file).contains("\"port\": \"dcsim:builtin\""));
        assertEquals(List.of(file.getFileName()), listing(logs));
    }

    @Test
    void zeroDivesSayNoDivesAndOddValuesShowAsUnknown() throws Exception {
        Path none = Files.writeString(temporary.resolve("none.txt"), "devinfo 1 2 3\n");
        ChildProcess empty = Tool.run("download", "--port", none.toString()).assertClean(0);
        assertTrue(empty.stdout().endsWith("\nNo dives on the computer\n"
                                           + "0 dives from Dcsim Reef Explorer, serial 3.\n"),
                   empty::toString);
        assertFalse(empty.stdout().contains("Date and time"), empty::toString);

        // Dives from the years -1, 999, 2024 and 10000 arrive in another order; a NaN and an
        // infinite maximum depth.
        Path odd = Files.writeString(temporary.resolve("odd.txt"),
                                     rawDive(10000, 1.0) + rawDive(999, Double.NaN)
                                         + rawDive(2024, Double.POSITIVE_INFINITY)
                                         + rawDive(-1, 2.0));
        ChildProcess child = Tool.run("download", "--port", odd.toString()).assertClean(0);
        List<String> dates = new ArrayList<>();
        List<String> depths = new ArrayList<>();
        for (String[] row : tableRows(child.stdout())) {
            dates.add(row[1]);
            depths.add(row[3]);
        }
        assertEquals(List.of("-001-01-02 03:04:05", "0999-01-02 03:04:05", "2024-01-02 03:04:05",
                             "10000-01-02 03:04:05"),
                     dates, child::toString);
        assertEquals(List.of("2.0 m", "?", "?", "1.0 m"), depths, child::toString);
    }

    /**
     * A dive of a scenario in dcsim's raw format: a date and time, a maximum depth and depth
     * samples 10 s apart.
     */
    private static String rawDive(int year, double maxDepth, double... depths) {
        ByteBuffer header = ByteBuffer.allocate(25).order(ByteOrder.LITTLE_ENDIAN);
        header.put((byte) 0x01).put((byte) 13).putInt(year).put(new byte[] {1, 2, 3, 4, 5});
        header.putInt(Integer.MIN_VALUE);
        header.put((byte) 0x11).put((byte) 8).putDouble(maxDepth);
        ByteBuffer raw =
            ByteBuffer.allocate(12 + 25 + depths.length * 20).order(ByteOrder.LITTLE_ENDIAN);
        raw.put("DCSM".getBytes(StandardCharsets.US_ASCII)).putShort((short) 1).putShort((short) 0);
        raw.putInt(25).put(header.array());
        for (int i = 0; i < depths.length; i++) {
            raw.put((byte) 0x40).put((byte) 8).putLong(i * 10_000L);
            raw.put((byte) 0x41).put((byte) 8).putDouble(depths[i]);
        }
        return "dive\nraw " + HexFormat.of().formatHex(raw.array()) + "\n";
    }

    @Test
    void ctrlCDuringTheDownloadCancelsItAndKeepsTheDiversFiles() throws Exception {
        Path scenario = temporary.resolve("slow.txt");
        Files.writeString(scenario, "transfer 10 100\n"
                                        + "dive\nprofile 0:00@0 5:00@10 10:00@0\n".repeat(5));
        Path json = Files.writeString(temporary.resolve("dives.json"), "the diver's old log");

        ChildProcess.Running running = startTool("--verbose", "download", "--port",
                                                 scenario.toString(), "--json", json.toString());
        // Printed while the first dive is parsed, so the transfer runs.
        running.awaitOutput("Parsing the maxdepth.");
        running.interrupt();
        ChildProcess child = running.finish().assertClean(130);

        assertTrue(errors(child).startsWith("diveconnector: Cancelled.\n"), child::toString);
        assertTrue(errors(child).contains("Caused by: brenquill.main.java.core.exceptions."
                                          + "NativeException: [-10]: "),
                   child::toString);
        assertFalse(child.stdout().contains("Date and time"), child::toString);
        assertEquals("the diver's old log", Files.readString(json));
        assertEquals(List.of(json.getFileName(), scenario.getFileName()), listing(temporary));
    }

    @Test
    void ctrlCWhileWritingKeepsThePreviousFilesAndRemovesTheNewOnes() throws Exception {
        Path scenario = Files.writeString(temporary.resolve("big.txt"),
                                          "generate 300 samples=3000\n");
        Path json = Files.writeString(temporary.resolve("dives.json"), "the diver's old log");
        Path plots = Files.createDirectory(temporary.resolve("plots"));
        Path oldPlot = Files.writeString(plots.resolve("dive-001-old.svg"), "old");

        Path cache = temporary.resolve("cache");
        ChildProcess.Running running = startTool("download", "--port", scenario.toString(),
                                                 "--json", json.toString(), "--plot",
                                                 plots.toString(), "--new-only", "--cache",
                                                 cache.toString());
        // The summary comes right before the files are written, which takes seconds.
        running.awaitOutput("300 dives from ");
        running.interrupt();
        ChildProcess child = running.finish().assertClean(130);

        assertTrue(errors(child).contains("diveconnector: Cancelled.\n")
                       || errors(child).endsWith("diveconnector: Cancelled."),
                   child::toString);
        assertFalse(child.stdout().contains("Wrote "), child::toString);
        assertEquals("the diver's old log", Files.readString(json));
        assertEquals("old", Files.readString(oldPlot));
        assertEquals(List.of(scenario.getFileName(), cache.getFileName(), json.getFileName(),
                             plots.getFileName()),
                     listing(temporary));
        assertEquals(List.of(oldPlot.getFileName()), listing(plots));
        assertEquals(List.of(), cacheFiles(cache), "the dives not written come again");
    }

    // After the check before the last chunk nothing can cancel the download any more; the Ctrl-C
    // must still end the tool as it ends any Java program.
    @Test
    void ctrlCAfterTheLastCancelCheckEndsTheToolAsTheJvmDoes() throws Exception {
        Path scenario = temporary.resolve("late.txt");
        Files.writeString(scenario, "transfer 2 4000\ndive\nprofile 0:00@0 5:00@10 10:00@0\n");

        // --verbose: the library's progress lines tell when the last check has passed.
        ChildProcess.Running running =
            startTool("--verbose", "download", "--port", scenario.toString());
        // Printed right before the check of the second and last chunk, which then takes 4 s: a
        // second later the check is long past.
        running.awaitOutput("Event: progress 50.00% (1/2)");
        Thread.sleep(1000);
        running.interrupt();
        // The JVM's own SIGINT handling with the tool's shutdown hook, not a success.
        ChildProcess child = running.finish().assertClean(130);

        assertEquals("diveconnector: Cancelled.", errors(child), child::toString);
    }
}
