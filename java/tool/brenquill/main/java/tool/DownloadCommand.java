package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.io.Writer;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.AbstractSet;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.Set;

/**
 * Downloads every dive of a dive computer, prints them as a table and optionally writes them as
 * JSON and as SVG dive profiles.
 */
final class DownloadCommand implements Command {
    private static final String JSON = "--json";
    private static final String PLOT = "--plot";
    private static final String NEW_ONLY = "--new-only";
    private static final String ALL = "--all";
    private static final String CACHE = "--cache";
    private static final String LOG = "--log";
    private static final String LOG_LEVEL = "--loglevel";
    private static final List<String> LOG_LEVELS = List.of("error", "warning", "info", "debug",
                                                           "all");
    // The library's support log: its file, and how much goes into it.
    private static final String LOG_PROPERTY = "diveconnector.log";
    private static final String LOG_LEVEL_PROPERTY = "diveconnector.loglevel";
    // The library's fingerprint cache: its directory, and whether to ignore what it holds.
    private static final String FINGERPRINTS_PROPERTY = "diveconnector.fingerprints";
    private static final String REFRESH_PROPERTY = "diveconnector.fingerprints.refresh";
    private static final String STANDARD_OUTPUT = "-";
    // The library's messages: "[status]: text", status "-" when libdivecomputer gave none.
    private static final String NO_MODEL = "[-]: No matching device found.";
    private static final String STATUS_NO_DEVICE = "[-4]: ";
    private static final String STATUS_NO_ACCESS = "[-5]: ";
    private static final String STATUS_CANCELLED = "[-10]: ";

    @Override
    public String name() {
        return "download";
    }

    @Override
    public String summary() {
        return "Download every dive of a dive computer and print them (Ctrl-C cancels).";
    }

    @Override
    public List<Option> options() {
        List<Option> options = new ArrayList<>(ComputerOptions.options());
        options.addAll(List.of(
            new Option(JSON, "FILE",
                       "Also write the dives with their whole profiles as JSON, to the\n"
                           + "standard output for FILE - (the table then goes to the standard\n"
                           + "error): times in s, depths in m, pressures in bar, temperatures in\n"
                           + "degrees Celsius; a value a sample lacks is null, NaN and infinities\n"
                           + "are the strings \"NaN\", \"Infinity\" and \"-Infinity\"."),
            new Option(PLOT, "DIR",
                       "Also write one SVG profile per dive into DIR: depth, and temperature\n"
                           + "and tank pressure when the dive has them, with its events."),
            Option.flag(NEW_ONLY, "Download only the dives made since the last download\n"
                                      + "that ran to its end (with the same cache)."),
            Option.flag(ALL, "Download every dive, and remember the newest for --new-only."),
            new Option(CACHE, "DIR", "The cache of --new-only and --all (default:\n"
                                         + "$XDG_CACHE_HOME/diveconnector or\n"
                                         + "~/.cache/diveconnector); libdivecomputer's\n"
                                         + "dctool reads and writes the same files."),
            new Option(LOG, "FILE", "Append libdivecomputer's log and the library's reasons\n"
                                        + "for a failure to FILE, for a bug report."),
            new Option(LOG_LEVEL, "L", "How much goes to the log: " + String.join(", ", LOG_LEVELS)
                                           + "\n(default: info).")));
        return options;
    }

    @Override
    public int run(Arguments arguments, PrintStream out, PrintStream err)
        throws UsageException, IOException, CommandFailure {
        ComputerOptions.Computer computer = ComputerOptions.of("download", arguments);
        String port = computer.port();
        String vendor = computer.vendor();
        String product = computer.product();
        Optional<String> json = nonEmpty(arguments, JSON, "a file name");
        boolean jsonToOut = json.equals(Optional.of(STANDARD_OUTPUT));
        Optional<Path> jsonPath = jsonToOut ? Optional.empty() : path(JSON, json);
        Optional<Path> plots = path(PLOT, nonEmpty(arguments, PLOT, "a directory name"));
        Optional<Path> cache = fingerprintCache(arguments);
        Optional<String> log = nonEmpty(arguments, LOG, "a file name");
        Optional<String> logLevel = logLevel(arguments, log);
        // With the JSON on the standard output, the table must not mix with it.
        PrintStream text = jsonToOut ? err : out;

        int count;
        try (PendingFiles files = new PendingFiles(err)) {
            // The targets are checked before the download, which may take minutes, not after it.
            Optional<OutputFile> jsonFile = Optional.empty();
            if (jsonToOut) {
                jsonFile = Optional.of(files.add(OutputFile.standardOutput()));
            } else if (jsonPath.isPresent()) {
                jsonFile = Optional.of(files.add(OutputFile.replacing(jsonPath.get())));
            }
            if (plots.isPresent()) {
                probeDirectory(plots.get());
            }
            if (cache.isPresent()) {
                System.setProperty(FINGERPRINTS_PROPERTY, cache.get().toString());
                System.setProperty(REFRESH_PROPERTY, String.valueOf(arguments.flag(ALL)));
            }
            if (log.isPresent()) {
                System.setProperty(LOG_PROPERTY, log.get());
            }
            if (logLevel.isPresent()) {
                System.setProperty(LOG_LEVEL_PROPERTY, logLevel.get());
            }

            text.println("Downloading from " + vendor + " " + product + " on " + port + ".");
            Main.checkStandardOutput(out);
            Arrivals arrivals = new Arrivals();
            Optional<ProgressBar> bar = ProgressBar.onTerminal(err);
            Device device = download(new DiverConnector(new PinPrompt(System.in, System.out), bar),
                                     bar, port, vendor, product, arrivals);
            List<Dive> dives = new ArrayList<>(arrivals.dives);
            dives.sort(DiveOrder.OLDEST_FIRST);
            count = dives.size();

            if (dives.isEmpty() && arguments.flag(NEW_ONLY)) {
                text.println("No new dives.");
            } else if (dives.isEmpty()) {
                text.println("No dives on the computer");
            } else {
                DiveTable.print(text, dives);
            }
            text.println(summary(device, count));
            if (jsonFile.isPresent()) {
                writeJson(jsonFile.get(), port, device, dives);
            }
            if (plots.isPresent()) {
                writePlots(files, plots.get(), dives);
            }
            files.commit();
        }
        if (jsonPath.isPresent()) {
            text.println("Wrote " + jsonPath.get() + ".");
        }
        if (plots.isPresent()) {
            text.println("Wrote " + count + (count == 1 ? " dive profile" : " dive profiles")
                         + " to " + plots.get() + ".");
        }
        return Main.EXIT_OK;
    }

    private static Optional<String> nonEmpty(Arguments arguments, String option, String what)
        throws UsageException {
        Optional<String> value = arguments.value(option);
        if (value.isPresent() && value.get().isEmpty()) {
            throw new UsageException(option + " needs " + what + ", not an empty one");
        }
        return value;
    }

    /** The log level, checked here: the library would log an unknown one at info. */
    private static Optional<String> logLevel(Arguments arguments, Optional<String> log)
        throws UsageException {
        Optional<String> level = arguments.value(LOG_LEVEL);
        if (level.isEmpty()) {
            return level;
        }
        String name = level.get().toLowerCase(Locale.ROOT);
        if (!LOG_LEVELS.contains(name)) {
            throw new UsageException("unknown log level '" + level.get() + "'; the levels are "
                                     + String.join(", ", LOG_LEVELS.subList(0, 4)) + " or all");
        }
        if (log.isEmpty()) {
            throw new UsageException(LOG_LEVEL + " needs " + LOG + " FILE");
        }
        return Optional.of(name);
    }

    /** The directory of the fingerprint cache, when --new-only or --all asks for it. */
    private static Optional<Path> fingerprintCache(Arguments arguments) throws UsageException {
        boolean newOnly = arguments.flag(NEW_ONLY);
        boolean all = arguments.flag(ALL);
        Optional<String> directory = nonEmpty(arguments, CACHE, "a directory name");
        if (newOnly && all) {
            throw new UsageException(NEW_ONLY + " and " + ALL + " exclude each other");
        }
        if (!newOnly && !all) {
            if (directory.isPresent()) {
                throw new UsageException(CACHE + " needs " + NEW_ONLY + " or " + ALL);
            }
            return Optional.empty();
        }
        if (directory.isPresent()) {
            return path(CACHE, directory);
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        try {
            // The XDG base directory rules ignore a relative XDG_CACHE_HOME.
            Path base = xdg != null && !xdg.isEmpty() && Paths.get(xdg).isAbsolute()
                            ? Paths.get(xdg)
                            : Paths.get(System.getProperty("user.home"), ".cache");
            return Optional.of(base.resolve("diveconnector"));
        } catch (InvalidPathException e) {
            throw new UsageException("no cache directory can be formed; give " + CACHE + " DIR");
        }
    }

    static Optional<Path> path(String option, Optional<String> name)
        throws UsageException {
        if (name.isEmpty()) {
            return Optional.empty();
        }
        try {
            return Optional.of(Paths.get(name.get()));
        } catch (InvalidPathException e) {
            throw new UsageException(option + " '" + name.get()
                                     + "' is no file name this system can use");
        }
    }

    private static Device download(DiverConnector connector, Optional<ProgressBar> bar,
                                   String port, String vendor, String product, Set<Dive> dives)
        throws CommandFailure {
        Device device;
        try {
            device = connector.loadUserDivesFromDevice(port, vendor, product, dives);
        } catch (NativeException e) {
            throw inWords(e, vendor, product);
        } finally {
            bar.ifPresent(ProgressBar::end);
        }
        if (device == null) {
            throw new IllegalStateException("the native library returned no device");
        }
        return device;
    }

    /** The library's failure in a diver's words, its own message kept after them. */
    static CommandFailure inWords(NativeException e, String vendor, String product) {
        String message = String.valueOf(e.getMessage());
        String words = null;
        int exitCode = Main.EXIT_FAILURE;
        if (message.equals(NO_MODEL)) {
            words = "No model '" + product + "' from vendor '" + vendor
                + "'; see `diveconnector list`";
        } else if (message.startsWith(STATUS_NO_DEVICE)) {
            words = "No such port";
        } else if (message.startsWith(STATUS_NO_ACCESS)) {
            words = "No access to the port";
        } else if (message.startsWith(STATUS_CANCELLED)) {
            words = "Cancelled";
            exitCode = Main.EXIT_CANCELLED;
        }
        return new CommandFailure(words == null ? message : words + " (" + message + ")", exitCode,
                                  e);
    }

    /**
     * Every dive the library adds. A set of the application would merge dives it deems equal (the
     * same start and duration, as from a computer without a clock); the tool shows them all.
     */
    private static final class Arrivals extends AbstractSet<Dive> {
        private final List<Dive> dives = new ArrayList<>();

        @Override
        public boolean add(Dive dive) {
            return dives.add(dive);
        }

        @Override
        public Iterator<Dive> iterator() {
            return dives.iterator();
        }

        @Override
        public int size() {
            return dives.size();
        }
    }

    private static String summary(Device device, int count) {
        return count + (count == 1 ? " dive" : " dives") + " from " + device.getVendor() + " "
            + device.getProduct() + ", serial "
            + (device.getSerial().isEmpty() ? "unknown" : device.getSerial()) + ".";
    }

    /** Creates the directory and tries a file in it: a directory refusing files fails now. */
    private static void probeDirectory(Path directory) throws IOException {
        try {
            Files.createDirectories(directory);
        } catch (IOException e) {
            throw new IOException("cannot create the directory " + directory + ": "
                                  + FileErrors.reason(e), e);
        }
        OutputFile.probe(directory);
    }

    private static void writeJson(OutputFile file, String port, Device device, List<Dive> dives)
        throws IOException {
        try (Writer writer = file.writer()) {
            DiveJson.write(writer, port, device, dives);
        } catch (IOException e) {
            throw FileErrors.cannotWrite(file.name(), e);
        }
    }

    private static void writePlots(PendingFiles files, Path directory, List<Dive> dives)
        throws IOException {
        for (int i = 0; i < dives.size(); i++) {
            Dive dive = dives.get(i);
            OutputFile file = files.add(OutputFile.replacing(
                directory.resolve(ProfilePlot.fileName(i + 1, dives.size(), dive))));
            try (Writer writer = file.writer()) {
                ProfilePlot.write(writer, i + 1, dive);
            } catch (IOException e) {
                throw FileErrors.cannotWrite(file.name(), e);
            }
        }
    }
}
