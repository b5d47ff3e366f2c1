package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.io.Writer;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.AbstractSet;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.Set;

/**
 * Downloads every dive of a dive computer, prints them as a table and optionally writes them as
 * JSON, as UDDF and as SVG dive profiles.
 */
final class DownloadCommand implements Command {
    private static final String JSON = "--json";
    private static final String UDDF = "--uddf";
    private static final String PLOT = "--plot";
    private static final String NEW_ONLY = "--new-only";
    private static final String ALL = "--all";
    static final String CACHE = "--cache";
    // The library's fingerprint cache: its directory, and whether to ignore what it holds.
    static final String FINGERPRINTS_PROPERTY = "diveconnector.fingerprints";
    private static final String REFRESH_PROPERTY = "diveconnector.fingerprints.refresh";
    private static final String STANDARD_OUTPUT = "-";

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
                       "Also write the dives with their whole profiles and everything else\n"
                           + "their computer recorded as JSON (format version 2), to the\n"
                           + "standard output for FILE - (the table then goes to the standard\n"
                           + "error): times in s, depths in m, pressures in bar, temperatures in\n"
                           + "degrees Celsius; a value not given is null, NaN and infinities\n"
                           + "are the strings \"NaN\", \"Infinity\" and \"-Infinity\"."),
            new Option(UDDF, "FILE",
                       "Also write the dives as UDDF 3.2.3, which most dive logs import, to the\n"
                           + "standard output for FILE -: the computer, the gas mixes and tanks,\n"
                           + "and each dive's profile with every value UDDF has a place for, in\n"
                           + "SI units (m, s, K, Pa)."),
            new Option(PLOT, "DIR",
                       "Also write one SVG profile per dive into DIR: depth, and temperature\n"
                           + "and tank pressure when the dive has them, with its events, gas\n"
                           + "switches and deco ceiling."),
            Option.flag(NEW_ONLY, "Download only the dives made since the last download\n"
                                      + "that ran to its end (with the same cache)."),
            Option.flag(ALL, "Download every dive, and remember the newest for --new-only."),
            new Option(CACHE, "DIR", "The cache of --new-only and --all (default:\n"
                                         + "$XDG_CACHE_HOME/diveconnector or\n"
                                         + "$HOME/.cache/diveconnector); libdivecomputer's\n"
                                         + "dctool reads and writes the same files.")));
        options.addAll(SupportLog.options());
        return options;
    }

    @Override
    public int run(Arguments arguments, PrintStream out, PrintStream err)
        throws UsageException, IOException, CommandFailure, NativeException {
        ComputerOptions.Computer computer = ComputerOptions.of("download", arguments);
        String port = computer.port();
        Optional<String> json = nonEmpty(arguments, JSON, "a file name");
        boolean jsonToOut = json.equals(Optional.of(STANDARD_OUTPUT));
        Optional<Path> jsonPath = jsonToOut ? Optional.empty() : path(JSON, json);
        Optional<String> uddf = nonEmpty(arguments, UDDF, "a file name");
        boolean uddfToOut = uddf.equals(Optional.of(STANDARD_OUTPUT));
        if (jsonToOut && uddfToOut) {
            throw new UsageException(JSON + " - and " + UDDF + " - cannot both write the "
                                     + "standard output");
        }
        Optional<Path> uddfPath = uddfToOut ? Optional.empty() : path(UDDF, uddf);
        Optional<Path> plots = path(PLOT, nonEmpty(arguments, PLOT, "a directory name"));
        Optional<Path> cache = fingerprintCache(arguments);
        // With the JSON or UDDF on the standard output, the table must not mix with it.
        PrintStream text = jsonToOut || uddfToOut ? err : out;

        try (PendingFiles files = new PendingFiles(err)) {
            // The targets are checked before the download, which may take minutes, not after it.
            Optional<OutputFile> jsonOutput = output(files, jsonToOut, jsonPath);
            Optional<OutputFile> uddfOutput = output(files, uddfToOut, uddfPath);
            if (plots.isPresent()) {
                probeDirectory(plots.get());
            }
            if (cache.isPresent()) {
                checkCache(cache.get());
                System.setProperty(FINGERPRINTS_PROPERTY, cache.get().toString());
                System.setProperty(REFRESH_PROPERTY, String.valueOf(arguments.flag(ALL)));
            }
            SupportLog.apply(arguments);

            if (ComputerOptions.simulated()) {
                text.println(ComputerOptions.SIMULATED);
            }
            text.println("Downloading from " + computer.model().name() + " on "
                         + computer.portName() + ".");
            Main.checkStandardOutput(out);
            boolean newOnly = arguments.flag(NEW_ONLY);
            // Runs inside the download, which moves the cache on only once this has returned.
            DiverConnector.DiveKeeper keeper = (device, firmware, arrived) -> {
                List<DownloadedDive> downloaded = new ArrayList<>(arrived);
                downloaded.sort(DownloadedDive.OLDEST_FIRST);
                List<Dive> dives = downloaded.stream().map(DownloadedDive::dive).toList();
                Contents jsonContents = writer -> DiveJson.write(writer, port, device, downloaded);
                Contents uddfContents =
                    writer -> DiveUddf.write(writer, device, firmware, downloaded);
                if (dives.isEmpty() && newOnly) {
                    // Nothing new: the files of the last download stay as they are.
                    text.println("No new dives.");
                    if (jsonToOut) {
                        write(jsonOutput.get(), jsonContents);
                    }
                    if (uddfToOut) {
                        write(uddfOutput.get(), uddfContents);
                    }
                    Main.checkStandardOutput(out);
                    return;
                }
                if (dives.isEmpty()) {
                    text.println("No dives on the computer");
                } else {
                    DiveTable.print(text, downloaded);
                }
                text.println(summary(device, dives.size()));
                if (jsonOutput.isPresent()) {
                    write(jsonOutput.get(), jsonContents);
                }
                if (uddfOutput.isPresent()) {
                    write(uddfOutput.get(), uddfContents);
                }
                if (plots.isPresent()) {
                    writePlots(files, plots.get(), downloaded);
                }
                // After Ctrl-C this never returns: the shutdown hook has removed the files.
                files.commit();
                if (jsonPath.isPresent()) {
                    text.println("Wrote " + jsonPath.get() + ".");
                }
                if (uddfPath.isPresent()) {
                    text.println("Wrote " + uddfPath.get() + ".");
                }
                if (plots.isPresent()) {
                    text.println("Wrote " + dives.size()
                                 + (dives.size() == 1 ? " dive profile" : " dive profiles")
                                 + " to " + plots.get() + ".");
                }
                Main.checkStandardOutput(out);
            };
            Optional<ProgressBar> bar = ProgressBar.onTerminal(err);
            DiverConnector connector =
                new DiverConnector(new PinPrompt(System.in, err), bar, keeper);
            download(connector, bar, computer, arguments, new Arrivals());
            connector.checkKept();
        }
        return Main.EXIT_OK;
    }

    static Optional<String> nonEmpty(Arguments arguments, String option, String what)
        throws UsageException {
        Optional<String> value = arguments.value(option);
        if (value.isPresent() && value.get().isEmpty()) {
            throw new UsageException(option + " needs " + what + ", not an empty one");
        }
        return value;
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
        return Optional.of(cacheDirectory(arguments));
    }

    /** --cache DIR, else the default cache directory, which also holds the library's state. */
    static Path cacheDirectory(Arguments arguments) throws UsageException {
        Optional<String> directory = nonEmpty(arguments, CACHE, "a directory name");
        if (directory.isPresent()) {
            return path(CACHE, directory).get();
        }
        try {
            // The XDG base directory rules ignore a relative XDG_CACHE_HOME. The home is the
            // environment's, as for every other program the diver runs; Java's user.home (from
            // the password file) only where there is no HOME, as on Windows.
            Optional<Path> xdg = absoluteEnvironmentPath("XDG_CACHE_HOME");
            Path base = xdg.isPresent() ? xdg.get()
                : absoluteEnvironmentPath("HOME")
                      .orElse(Paths.get(System.getProperty("user.home")))
                      .resolve(".cache");
            return base.resolve("diveconnector");
        } catch (InvalidPathException e) {
            throw new UsageException("no cache directory can be formed; give " + CACHE + " DIR");
        }
    }

    private static Optional<Path> absoluteEnvironmentPath(String variable) {
        String value = System.getenv(variable);
        if (value == null || value.isEmpty() || !Paths.get(value).isAbsolute()) {
            return Optional.empty();
        }
        return Optional.of(Paths.get(value));
    }

    /**
     * A cache the library could not write would pass for a working one, and every later
     * --new-only would bring every dive again: it must be a directory that takes files.
     */
    static void checkCache(Path directory) throws IOException {
        try {
            if (Files.exists(directory) && !Files.isDirectory(directory)) {
                throw new IOException("it is not a directory");
            }
            // Created for the user only, as the library creates it.
            if (FileSystems.getDefault().supportedFileAttributeViews().contains("posix")) {
                Files.createDirectories(directory, PosixFilePermissions.asFileAttribute(
                                                       PosixFilePermissions.fromString("rwx------")));
            } else {
                Files.createDirectories(directory);
            }
            Files.delete(Files.createTempFile(directory, ".diveconnector-", ".tmp"));
        } catch (IOException e) {
            throw new IOException("cannot use the cache " + directory + ": "
                                  + FileErrors.reason(e), e);
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

    private static void download(DiverConnector connector, Optional<ProgressBar> bar,
                                 ComputerOptions.Computer computer, Arguments arguments,
                                 Set<Dive> dives) throws CommandFailure {
        Device device;
        try {
            device = connector.loadUserDivesFromDevice(computer.port(), computer.vendor(),
                                                       computer.product(), dives);
        } catch (NativeException e) {
            throw FailureWords.of(e, Optional.of(computer), arguments, connector.noPinGiven(),
                                  connector.pinAsked());
        } finally {
            bar.ifPresent(ProgressBar::end);
        }
        if (device == null) {
            throw new IllegalStateException("the native library returned no device");
        }
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

    /** The standard output, or the file replacing the target, or neither. */
    private static Optional<OutputFile> output(PendingFiles files, boolean toStandardOutput,
                                               Optional<Path> target) throws IOException {
        if (toStandardOutput) {
            return Optional.of(files.add(OutputFile.standardOutput()));
        }
        if (target.isPresent()) {
            return Optional.of(files.add(OutputFile.replacing(target.get())));
        }
        return Optional.empty();
    }

    /** What goes into one output file. */
    private interface Contents {
        void writeTo(Writer writer) throws IOException;
    }

    /** Writes the file's contents; a failure names the file. */
    private static void write(OutputFile file, Contents contents) throws IOException {
        try (Writer writer = file.writer()) {
            contents.writeTo(writer);
        } catch (IOException e) {
            throw FileErrors.cannotWrite(file.name(), e);
        }
    }

    private static void writePlots(PendingFiles files, Path directory,
                                   List<DownloadedDive> dives) throws IOException {
        Map<String, Integer> repeats = new HashMap<>();
        for (int i = 0; i < dives.size(); i++) {
            Dive dive = dives.get(i).dive();
            int repeat = repeats.merge(dive.getDateTime(), 1, Integer::sum);
            OutputFile file = files.add(OutputFile.replacing(
                directory.resolve(ProfilePlot.fileName(dive, repeat))));
            int number = i + 1;
            write(file, writer -> ProfilePlot.write(writer, number, dives.get(number - 1)));
        }
    }
}
