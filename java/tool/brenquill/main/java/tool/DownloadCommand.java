package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.AbstractSet;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.Optional;

/**
 * Downloads every dive of a dive computer, prints them as a table and optionally writes them as
 * JSON and as SVG depth profiles.
 *
 * <p>A build over the simulated libdivecomputer names its built-in dive computer in the system
 * properties {@code diveconnector.default.port}, {@code .vendor} and {@code .product}; they stand
 * in for options that are not given. Without them the port, vendor and product must be given.
 */
final class DownloadCommand implements Command {
    private static final String DEFAULT_PROPERTY_PREFIX = "diveconnector.default.";
    private static final String PORT = "--port";
    private static final String VENDOR = "--vendor";
    private static final String PRODUCT = "--product";
    private static final String JSON = "--json";
    private static final String PLOT = "--plot";

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
        return List.of(
            new Option(PORT, "NAME", "Port of the dive computer" + defaultNote("port") + "."),
            new Option(VENDOR, "V", "Vendor of its model, as 'list' prints it"
                                        + defaultNote("vendor") + "."),
            new Option(PRODUCT, "P", "Product of its model" + defaultNote("product") + "."),
            new Option(JSON, "FILE",
                       "Also write the dives with their whole profiles as JSON: times in s,\n"
                           + "depths in m, pressures in bar, temperatures in degrees Celsius; a\n"
                           + "value a sample lacks is null, NaN and infinities are the strings\n"
                           + "\"NaN\", \"Infinity\" and \"-Infinity\"."),
            new Option(PLOT, "DIR", "Also write one SVG depth profile per dive into DIR."));
    }

    private static Optional<String> buildDefault(String option) {
        return Optional.ofNullable(System.getProperty(DEFAULT_PROPERTY_PREFIX + option))
            .filter(value -> !value.isEmpty());
    }

    private static String defaultNote(String option) {
        return buildDefault(option).map(value -> " (default: " + value + ")").orElse("");
    }

    private static String required(Arguments arguments, String option, String valueName,
                                   String property) throws UsageException {
        Optional<String> value = arguments.value(option).or(() -> buildDefault(property));
        if (value.isEmpty()) {
            throw new UsageException(
                "download needs " + option + " " + valueName
                + " (this build has no simulated dive computer to default to)");
        }
        return value.get();
    }

    @Override
    public int run(Arguments arguments, PrintStream out)
        throws NativeException, UsageException, IOException {
        String port = required(arguments, PORT, "NAME", "port");
        String vendor = required(arguments, VENDOR, "V", "vendor");
        String product = required(arguments, PRODUCT, "P", "product");
        Optional<Path> json = arguments.value(JSON).map(Paths::get);
        Optional<Path> plots = arguments.value(PLOT).map(Paths::get);
        // Before the download, which may take minutes, rather than after it.
        if (json.isPresent()) {
            checkWritable(json.get());
        }
        if (plots.isPresent()) {
            createDirectory(plots.get());
        }

        out.println("Downloading from " + vendor + " " + product + " on " + port + ".");
        out.flush();
        Arrivals arrivals = new Arrivals();
        Device device =
            new DeviceConnector().loadUserDivesFromDevice(port, vendor, product, arrivals);
        if (device == null) {
            throw new IllegalStateException("the native library returned no device");
        }
        // Chronological, the order of the application's dive log; dives that tie keep the order
        // they arrived in.
        List<Dive> dives = new ArrayList<>(arrivals.dives);
        dives.sort(null);

        DiveTable.print(out, dives);
        out.println(summary(device, dives.size()));
        if (json.isPresent()) {
            writeJson(json.get(), port, device, dives);
            out.println("Wrote " + json.get() + ".");
        }
        if (plots.isPresent()) {
            writePlots(plots.get(), dives);
            out.println("Wrote " + dives.size()
                        + (dives.size() == 1 ? " depth profile" : " depth profiles") + " to "
                        + plots.get() + ".");
        }
        return Main.EXIT_OK;
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

    private static void checkWritable(Path file) throws IOException {
        Path directory = file.toAbsolutePath().getParent();
        if (Files.isDirectory(file)) {
            throw new IOException("cannot write " + file + ": it is a directory");
        }
        if (directory != null && !Files.isDirectory(directory)) {
            throw new IOException("cannot write " + file + ": no directory " + directory);
        }
    }

    private static void createDirectory(Path directory) throws IOException {
        try {
            Files.createDirectories(directory);
        } catch (IOException e) {
            throw new IOException("cannot create the directory " + directory + ": " + reason(e), e);
        }
    }

    private static void writeJson(Path file, String port, Device device, List<Dive> dives)
        throws IOException {
        try {
            DiveJson.write(file, port, device, dives);
        } catch (IOException e) {
            throw new IOException("cannot write " + file + ": " + reason(e), e);
        }
    }

    private static void writePlots(Path directory, List<Dive> dives) throws IOException {
        for (int i = 0; i < dives.size(); i++) {
            Dive dive = dives.get(i);
            Path file = directory.resolve(DepthProfilePlot.fileName(i + 1, dives.size(), dive));
            try {
                DepthProfilePlot.write(file, i + 1, dive);
            } catch (IOException e) {
                throw new IOException("cannot write " + file + ": " + reason(e), e);
            }
        }
    }

    /** What went wrong, in words: file-system exceptions carry little more than the path. */
    private static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "no such file or directory";
        }
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        if (e instanceof FileAlreadyExistsException) {
            return "a file of that name is in the way";
        }
        if (e instanceof FileSystemException fileSystem && fileSystem.getReason() != null) {
            return fileSystem.getReason();
        }
        return String.valueOf(e.getMessage());
    }
}
