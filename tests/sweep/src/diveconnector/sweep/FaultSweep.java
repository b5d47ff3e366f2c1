package diveconnector.sweep;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.sweep.SweepComputer.Descriptor;
import diveconnector.sweep.SweepComputer.Fault;
import diveconnector.sweep.SweepComputer.Field;
import diveconnector.testing.DcSim;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Main class of the child JVM of {@link FaultSweepTest}. Fails each libdivecomputer call that a
 * download of {@link SweepComputer} (and a model listing) makes, with every status, at the first,
 * a middle and the last call of that function, and checks the outcome against its own table of
 * what the library must do.
 *
 * <p>The library's diagnostic lines go to file descriptor 1, out of reach of System.setOut, so
 * the parent sends this JVM's standard output to a file and names it here: after each case the
 * sweep reads what the case appended. Prints one MISMATCH line per wrong outcome, then a
 * summary; exits 1 on any mismatch.
 *
 * <p>Usage: FaultSweep OUTPUT_FILE CALLS_HEADER API, where CALLS_HEADER is dcsim's list of the
 * functions it implements (src/calls.h) and API the libdivecomputer release it presents (0.9).
 */
public final class FaultSweep {
    private static final int DONE = 1;
    private static final int UNSUPPORTED = -1;
    private static final int NODEVICE = -4;
    private static final int INVALIDARGS = -2;
    private static final int IO = -6;
    /** Every status a call can fail with: DC_STATUS_DONE and each error. */
    private static final int[] STATUSES = {DONE, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10};

    private static final String NO_MATCHING_DEVICE = "[-]: No matching device found.";
    private static final String CONTEXT = "Could not create the context.";
    private static final String NO_DESCRIPTOR = "No matching device descriptor found.";
    private static final String OPENING = "Error opening device.";
    private static final String EVENTS = "Error registering the event handler.";
    private static final String CANCEL = "Error registering the cancellation handler.";
    private static final String DOWNLOADING = "Error downloading the dives.";
    private static final String PARSER = "Error creating the parser.";
    private static final String DATA = "Error registering the data.";
    private static final String DATETIME = "Error parsing the datetime.";
    private static final String SAMPLES = "Error parsing the sample data.";
    private static final Map<Field, String> FIELD_MESSAGES = Map.of(
        Field.DIVETIME, "Error parsing the divetime.",
        Field.MAXDEPTH, "Error parsing the maxdepth.",
        Field.GASMIX_COUNT, "Error parsing the gas mix count.",
        Field.GASMIX, "Error parsing the gas mix.");
    private static final String CREATING_ITERATOR_LINE =
        "Error creating the device descriptor iterator.";
    private static final String ITERATING_LINE = "Error iterating the device descriptors.";
    /** Native diagnostic lines all start so; the sweep's own output never does. */
    private static final String DIAGNOSTIC_PREFIX = "Error ";

    /**
     * What one faulted call must lead to: the text of the NativeException it throws (null if it
     * succeeds), the diagnostic lines it writes, and on success its dives or listed models.
     */
    private record Expectation(String failure, List<String> lines, List<DiveSnapshot> dives,
                               List<String> devices) {}

    /** The outcome of a faulted call at a call number (1-based) with a status. */
    private interface Rule {
        Expectation at(int call, int status);
    }

    /**
     * A rule and whether its function returns a failure value rather than a status. A function
     * without a rule fails through the scenario's fault lines instead.
     */
    private record Entry(boolean statusless, Rule rule) {}

    private final Path output;
    private final String versionMismatch;
    /** dcsim's functions that can fail, in its order. */
    private final List<String> functions;
    private final DeviceConnector connector = new DeviceConnector();
    private final List<DiveSnapshot> allDives = SweepComputer.expectedDives();
    private final List<String> allDevices = listing(SweepComputer.DESCRIPTORS);
    private long outputMark;
    private int downloadCases;
    private int listingCases;
    private int tolerated;
    private int failedAsExpected;
    private final List<String> mismatches = new ArrayList<>();

    private FaultSweep(Path output, List<String> functions, String api) {
        this.output = output;
        this.functions = functions;
        this.versionMismatch =
            "Incompatible libdivecomputer of unknown version (built for " + api + ".0).";
    }

    public static void main(String[] args) throws IOException {
        if (args.length != 3) {
            throw new IllegalArgumentException("usage: FaultSweep OUTPUT_FILE CALLS_HEADER API");
        }
        FaultSweep sweep = new FaultSweep(Paths.get(args[0]), faultableFunctions(args[1]), args[2]);
        long start = System.nanoTime();
        sweep.sweepListing();
        Map<String, Integer> serialCalls = sweep.sweepPort(SweepComputer.SERIAL_PORT, Map.of());
        for (String port : SweepComputer.PORTS) {
            if (!port.equals(SweepComputer.SERIAL_PORT)) {
                sweep.sweepPort(port, serialCalls);
            }
        }
        sweep.printSummary((System.nanoTime() - start) / 1_000_000);
        System.exit(sweep.mismatches.isEmpty() ? 0 : 1);
    }

    /** dcsim's functions that a fault can strike: those that return something. */
    private static List<String> faultableFunctions(String header) throws IOException {
        Matcher entry = Pattern.compile("X\\((dc_\\w+), ([01])\\)").matcher(
            Files.readString(Paths.get(header)));
        List<String> names = new ArrayList<>();
        while (entry.find()) {
            if (entry.group(2).equals("1")) {
                names.add(entry.group(1));
            }
        }
        if (names.isEmpty()) {
            throw new IllegalStateException(header + " lists no dcsim function");
        }
        return names;
    }

    // ---- Download -------------------------------------------------------------------------

    /**
     * Sweeps the faults of downloads through one port. Given the call counts of the serial port's
     * download, only the calls the stream opening adds are swept: every call whose count
     * differs. Returns the call counts of a fault-free download.
     */
    private Map<String, Integer> sweepPort(String port, Map<String, Integer> serialCalls) {
        prepareDownload(null);
        Download baseline = Download.run(port, SweepComputer.VENDOR, SweepComputer.PRODUCT);
        Map<String, Integer> calls = callCounts();
        if (baseline.thrown() != null || !allDives.equals(baseline.dives())) {
            mismatch(port + " without a fault: " + baseline.describe() + ", expected "
                     + allDives);
            return calls;
        }
        Map<String, Entry> rules = downloadRules();
        for (Map.Entry<String, Integer> called : calls.entrySet()) {
            String function = called.getKey();
            int count = called.getValue();
            if (count == serialCalls.getOrDefault(function, 0)) {
                continue;
            }
            Entry entry = rules.get(function);
            if (entry == null) {
                mismatch(port + ": the download calls " + function
                         + ", which the sweep has no expectation for");
                continue;
            }
            if (entry.rule() == null) {
                continue;
            }
            for (int call : positions(count)) {
                for (int status : entry.statusless() ? new int[] {IO} : STATUSES) {
                    String name = port + " " + function + " call " + call + "/" + count
                                  + (entry.statusless() ? " failing" : " status " + status);
                    runDownload(name, port, function, call, status, null,
                                entry.rule().at(call, status));
                }
            }
        }
        if (serialCalls.isEmpty()) {
            sweepScenarioFaults(port);
        }
        return calls;
    }

    /**
     * Faults the scenario carries. Field queries fail by field name, so that a case does not
     * depend on the order in which the library asks for a dive's fields; a sample walk fails
     * part-way, after the library has taken samples; the transfer fails after some dives have
     * been parsed.
     */
    private void sweepScenarioFaults(String port) {
        int dives = SweepComputer.DIVES.size();
        for (Field field : List.of(Field.DIVETIME, Field.MAXDEPTH, Field.GASMIX_COUNT,
                                   Field.GASMIX)) {
            List<Integer> asking = new ArrayList<>();
            for (int at = 1; at <= dives; at++) {
                if (field != Field.GASMIX || !SweepComputer.delivered(at).mixes().isEmpty()) {
                    asking.add(at);
                }
            }
            for (int index : positions(asking.size())) {
                int dive = asking.get(index - 1);
                for (int status : STATUSES) {
                    String line = "fault field " + field.scenarioName + " " + statusName(status);
                    runDownload(port + " dc_parser_get_field(" + field.scenarioName
                                    + ") of dive " + dive + " status " + status,
                                port, "dc_parser_get_field", 0, status, Fault.ofDive(dive, line),
                                status == UNSUPPORTED
                                    ? success(SweepComputer.expectedDives(dive, field))
                                    : failure(status, FIELD_MESSAGES.get(field)));
                }
            }
        }
        for (int dive : positions(dives)) {
            for (int status : STATUSES) {
                runDownload(port + " dc_parser_samples_foreach failing after 2 samples of dive "
                                + dive + " status " + status,
                            port, "dc_parser_samples_foreach", 0, status,
                            Fault.ofDive(dive, "fault samples 2 " + statusName(status)),
                            failure(status, SAMPLES));
            }
        }
        for (int delivered : List.of(0, dives / 2, dives)) {
            for (int status : STATUSES) {
                runDownload(port + " dc_device_foreach failing after " + delivered
                                + " dives status " + status,
                            port, "dc_device_foreach", 0, status,
                            Fault.ofComputer("fail-after " + delivered + " "
                                             + statusName(status)),
                            failure(status, DOWNLOADING));
            }
        }
    }

    /** The library's answer to each failing call of a download, from its message catalogue. */
    private Map<String, Entry> downloadRules() {
        // The descriptor walk stops at the computer's model: the calls up to it, and which of
        // them read the matching vendor and product.
        int walk = SweepComputer.DESCRIPTORS.size();
        int productCalls = 0;
        for (int row = 0; row < SweepComputer.DESCRIPTORS.size(); row++) {
            Descriptor descriptor = SweepComputer.DESCRIPTORS.get(row);
            if (descriptor.vendor().equals(SweepComputer.VENDOR)) {
                productCalls++;
                if (descriptor.product().equals(SweepComputer.PRODUCT)) {
                    walk = row + 1;
                    break;
                }
            }
        }
        final int walkCalls = walk;
        final int productMatch = productCalls;

        Map<String, Entry> rules = new HashMap<>();
        rules.put("dc_version", new Entry(true, (call, status) -> failure(versionMismatch)));
        rules.put("dc_context_new", failing(CONTEXT));
        // Silencing the log and releasing handles may fail without consequence, and silently.
        for (String release : List.of("dc_context_set_loglevel", "dc_iterator_free",
                                      "dc_iostream_close", "dc_context_free")) {
            rules.put(release, new Entry(false, (call, status) -> success(allDives)));
        }
        Rule noDescriptorWalk =
            (call, status) -> failure(status, NO_DESCRIPTOR, CREATING_ITERATOR_LINE);
        rules.put("dc_descriptor_iterator", new Entry(false, noDescriptorWalk));
        rules.put("dc_descriptor_iterator_new", new Entry(false, noDescriptorWalk));
        // The descriptor walk, then the search for the device on an enumerated transport, which
        // reads DC_STATUS_DONE as "no device".
        rules.put("dc_iterator_next", new Entry(false, (call, status) -> {
            if (call > walkCalls) {
                return failure(status == DONE ? NODEVICE : status, OPENING);
            }
            return status == DONE ? failure(NO_MATCHING_DEVICE)
                                  : failure(status, NO_DESCRIPTOR, ITERATING_LINE);
        }));
        // A descriptor without a vendor or product matches nothing.
        rules.put("dc_descriptor_get_vendor", new Entry(true, (call, status) ->
            call == walkCalls ? failure(NO_MATCHING_DEVICE) : success(allDives)));
        rules.put("dc_descriptor_get_product", new Entry(true, (call, status) ->
            call == productMatch ? failure(NO_MATCHING_DEVICE) : success(allDives)));
        // A model without transports has none for the name.
        rules.put("dc_descriptor_get_transports",
                  new Entry(true, (call, status) -> failure(UNSUPPORTED, OPENING)));
        for (String open : List.of("dc_serial_open", "dc_usbhid_iterator_new", "dc_usbhid_open",
                                   "dc_usb_iterator_new", "dc_usb_open", "dc_bluetooth_open",
                                   "dc_device_open")) {
            rules.put(open, failing(OPENING));
        }
        // Address 0 is no Bluetooth address.
        rules.put("dc_bluetooth_str2addr",
                  new Entry(true, (call, status) -> failure(INVALIDARGS, OPENING)));
        rules.put("dc_device_set_events", failing(EVENTS));
        rules.put("dc_device_set_cancel", failing(CANCEL));
        rules.put("dc_device_foreach", failing(DOWNLOADING));
        rules.put("dc_parser_new", failing(PARSER));
        rules.put("dc_parser_set_data", failing(DATA));
        rules.put("dc_parser_get_datetime", new Entry(false, (call, status) ->
            status == UNSUPPORTED ? success(SweepComputer.expectedDives(call, Field.DATETIME))
                                  : failure(status, DATETIME)));
        // Swept through the scenario's fault lines.
        rules.put("dc_parser_get_field", new Entry(false, null));
        rules.put("dc_parser_samples_foreach", failing(SAMPLES));
        rules.put("dc_parser_destroy", new Entry(false, (call, status) ->
            success(allDives, "Error destroying the parser (" + status + ").")));
        rules.put("dc_device_close", new Entry(false, (call, status) ->
            success(allDives, "Error closing the device (" + status + ").")));
        return rules;
    }

    private void prepareDownload(Fault fault) {
        DcSim.reset();
        SweepComputer.installDescriptors();
        DcSim.attach(SweepComputer.scenario(fault));
    }

    /**
     * One case: the call-th call of the function fails with the status, or the scenario carries
     * the fault. Then a download without fault must bring every dive.
     */
    private void runDownload(String name, String port, String function, int call, int status,
                             Fault fault, Expectation expected) {
        downloadCases++;
        prepareDownload(fault);
        if (fault == null) {
            DcSim.fault(function, call, statusOf(status));
        }
        markOutput();
        Download download = Download.run(port, SweepComputer.VENDOR, SweepComputer.PRODUCT);
        List<String> lines = diagnosticLines();
        List<String> problems = new ArrayList<>();
        if (fault == null && DcSim.calls(function) < call) {
            problems.add("the fault was never reached: " + DcSim.calls(function) + " calls");
        }
        if (expected.failure() != null) {
            checkThrown(download.thrown(), expected.failure(), problems);
            if (!download.dives().isEmpty()) {
                problems.add(download.dives().size() + " dives reached the set: "
                             + download.dives());
            }
        } else if (download.thrown() != null) {
            problems.add("expected success, " + download.describe());
        } else {
            if (!SweepComputer.DEVICE.equals(download.device().toString())) {
                problems.add("device " + download.device());
            }
            if (!expected.dives().equals(download.dives())) {
                problems.add("dives " + download.dives() + ", expected " + expected.dives());
            }
        }
        checkAfterwards(expected, lines, problems);

        DcSim.detachAll();
        DcSim.attach(SweepComputer.scenario(null));
        Download next = Download.run(port, SweepComputer.VENDOR, SweepComputer.PRODUCT);
        if (next.thrown() != null || !allDives.equals(next.dives())) {
            problems.add("the next download " + next.describe());
        }
        checkLive("after the next download", problems);
        record(name, expected, problems);
    }

    // ---- Listing --------------------------------------------------------------------------

    /** Sweeps the faults of getSupportedDevices, which lists whatever it could read. */
    private void sweepListing() {
        prepareListing();
        List<String> baseline = listOrNull();
        Map<String, Integer> calls = callCounts();
        if (!allDevices.equals(baseline)) {
            mismatch("listing without a fault: " + baseline + ", expected " + allDevices);
            return;
        }
        List<Descriptor> table = SweepComputer.DESCRIPTORS;
        Map<String, Entry> rules = new HashMap<>();
        rules.put("dc_version", new Entry(true, (call, status) -> failure(versionMismatch)));
        Rule empty = (call, status) -> listed(List.of());
        rules.put("dc_descriptor_iterator", new Entry(false, empty));
        rules.put("dc_descriptor_iterator_new", new Entry(false, empty));
        rules.put("dc_iterator_next", new Entry(false, (call, status) ->
            listed(table.subList(0, Math.min(call - 1, table.size())))));
        rules.put("dc_descriptor_get_vendor", new Entry(true, (call, status) ->
            listed(replaced(table, call - 1, new Descriptor("", table.get(call - 1).product(),
                                                             0, 0, 0)))));
        rules.put("dc_descriptor_get_product", new Entry(true, (call, status) ->
            listed(replaced(table, call - 1, new Descriptor(table.get(call - 1).vendor(), "",
                                                             0, 0, 0)))));
        // Transports only inform the connector's handler: a model without them is listed alike.
        rules.put("dc_descriptor_get_transports",
                  new Entry(true, (call, status) -> listed(table)));
        rules.put("dc_iterator_free", new Entry(false, (call, status) -> listed(table)));

        for (Map.Entry<String, Integer> called : calls.entrySet()) {
            String function = called.getKey();
            Entry entry = rules.get(function);
            if (entry == null) {
                mismatch("the listing calls " + function
                         + ", which the sweep has no expectation for");
                continue;
            }
            for (int call : positions(called.getValue())) {
                for (int status : entry.statusless() ? new int[] {IO} : STATUSES) {
                    String name = "listing " + function + " call " + call + "/"
                                  + called.getValue()
                                  + (entry.statusless() ? " failing" : " status " + status);
                    runListing(name, function, call, status, entry.rule().at(call, status));
                }
            }
        }
    }

    private void prepareListing() {
        DcSim.reset();
        SweepComputer.installDescriptors();
    }

    private void runListing(String name, String function, int call, int status,
                            Expectation expected) {
        listingCases++;
        prepareListing();
        DcSim.fault(function, call, statusOf(status));
        markOutput();
        TreeSet<Device> devices = null;
        Throwable thrown = null;
        try {
            devices = connector.getSupportedDevices();
        } catch (Throwable caught) {
            thrown = caught;
        }
        List<String> lines = diagnosticLines();
        List<String> problems = new ArrayList<>();
        if (DcSim.calls(function) < call) {
            problems.add("the fault was never reached: " + DcSim.calls(function) + " calls");
        }
        if (expected.failure() != null) {
            checkThrown(thrown, expected.failure(), problems);
        } else if (thrown != null) {
            problems.add("expected a listing, threw " + thrown);
        } else if (!expected.devices().equals(deviceTexts(devices))) {
            problems.add("listed " + deviceTexts(devices) + ", expected " + expected.devices());
        }
        checkAfterwards(expected, lines, problems);

        List<String> next = listOrNull();
        if (!allDevices.equals(next)) {
            problems.add("the next listing gave " + next);
        }
        checkLive("after the next listing", problems);
        record(name, expected, problems);
    }

    /** The models listed now, or null when the listing fails. */
    private List<String> listOrNull() {
        try {
            return deviceTexts(connector.getSupportedDevices());
        } catch (NativeException e) {
            return null;
        }
    }

    private static List<String> deviceTexts(TreeSet<Device> devices) {
        List<String> texts = new ArrayList<>();
        for (Device device : devices) {
            texts.add(device.toString());
        }
        return texts;
    }

    /** What getSupportedDevices gives for these rows: a sorted set of models. */
    private static List<String> listing(List<Descriptor> rows) {
        TreeSet<Device> devices = new TreeSet<>();
        for (Descriptor row : rows) {
            devices.add(new Device(row.vendor(), row.product(), row.product()));
        }
        return deviceTexts(devices);
    }

    private static List<Descriptor> replaced(List<Descriptor> rows, int index, Descriptor row) {
        List<Descriptor> copy = new ArrayList<>(rows);
        copy.set(index, row);
        return copy;
    }

    private Expectation listed(List<Descriptor> rows) {
        return new Expectation(null, List.of(), List.of(), listing(rows));
    }

    // ---- Shared ---------------------------------------------------------------------------

    private static Entry failing(String message) {
        return new Entry(false, (call, status) -> failure(status, message));
    }

    private static Expectation failure(int status, String message, String... lines) {
        return failure("[" + status + "]: " + message, lines);
    }

    private static Expectation failure(String text, String... lines) {
        return new Expectation(text, List.of(lines), List.of(), List.of());
    }

    private static Expectation success(List<DiveSnapshot> dives, String... lines) {
        return new Expectation(null, List.of(lines), dives, List.of());
    }

    private static void checkThrown(Throwable thrown, String text, List<String> problems) {
        if (thrown == null) {
            problems.add("expected NativeException \"" + text + "\", nothing was thrown");
        } else if (thrown.getClass() != NativeException.class
                   || !text.equals(thrown.getMessage()) || thrown.getCause() != null
                   || thrown.getSuppressed().length != 0) {
            problems.add("expected NativeException \"" + text + "\", threw " + thrown);
        }
    }

    private void checkAfterwards(Expectation expected, List<String> lines,
                                 List<String> problems) {
        if (!expected.lines().equals(lines)) {
            problems.add("diagnostic lines " + lines + ", expected " + expected.lines());
        }
        checkLive("after the faulted call", problems);
        DcSim.faultsClear();
    }

    private static void checkLive(String when, List<String> problems) {
        if (DcSim.liveTotal() != 0) {
            problems.add(DcSim.liveSummary() + " " + when);
        }
    }

    private void record(String name, Expectation expected, List<String> problems) {
        if (!problems.isEmpty()) {
            mismatch(name + ": " + String.join("; ", problems));
        } else if (expected.failure() != null) {
            failedAsExpected++;
        } else {
            tolerated++;
        }
    }

    private void mismatch(String text) {
        mismatches.add(text);
        System.out.println("MISMATCH " + text);
    }

    /** First, middle and last of `count` calls, each once. */
    private static List<Integer> positions(int count) {
        List<Integer> positions = new ArrayList<>();
        for (int position : new int[] {1, (count + 1) / 2, count}) {
            if (position >= 1 && !positions.contains(position)) {
                positions.add(position);
            }
        }
        return positions;
    }

    /** The calls of each faultable function since the last reset, for those called. */
    private Map<String, Integer> callCounts() {
        Map<String, Integer> counts = new LinkedHashMap<>();
        for (String function : functions) {
            int calls = DcSim.calls(function);
            if (calls > 0) {
                counts.put(function, calls);
            }
        }
        return counts;
    }

    /** The scenario's name for a status. */
    private static String statusName(int value) {
        return statusOf(value).name();
    }

    private static DcSim.Status statusOf(int value) {
        for (DcSim.Status status : DcSim.Status.values()) {
            if (status.value() == value) {
                return status;
            }
        }
        throw new IllegalArgumentException("no status " + value);
    }

    private void markOutput() {
        System.out.flush();
        try {
            outputMark = Files.size(output);
        } catch (IOException e) {
            throw new IllegalStateException("cannot read the sweep's output " + output, e);
        }
    }

    /** The library's diagnostic lines written since the mark. */
    private List<String> diagnosticLines() {
        System.out.flush();
        byte[] appended;
        try (RandomAccessFile file = new RandomAccessFile(output.toFile(), "r")) {
            appended = new byte[(int) (file.length() - outputMark)];
            file.seek(outputMark);
            file.readFully(appended);
        } catch (IOException e) {
            throw new IllegalStateException("cannot read the sweep's output " + output, e);
        }
        List<String> lines = new ArrayList<>();
        for (String line : new String(appended, StandardCharsets.UTF_8).split("\n")) {
            if (line.startsWith(DIAGNOSTIC_PREFIX)) {
                lines.add(line);
            }
        }
        return lines;
    }

    private void printSummary(long milliseconds) {
        System.out.println("fault sweep: " + (downloadCases + listingCases) + " cases ("
                           + downloadCases + " downloads, " + listingCases + " listings), "
                           + tolerated + " tolerated, " + failedAsExpected
                           + " failed as expected, " + mismatches.size() + " mismatched, in "
                           + milliseconds + " ms");
    }
}
