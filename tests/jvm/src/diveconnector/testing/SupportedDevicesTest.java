package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/** getSupportedDevices against dcsim's descriptor tables and its faults, in this JVM. */
class SupportedDevicesTest {
    // Deliberately out of order, with two repeated pairs and vendors that differ only in case.
    private static final String[][] OWN_TABLE = {
        {"Suunto", "Vyper"},     {"Aeris", "Atmos 2"},  {"Suunto", "D4i"},
        {"Mares", "Puck Pro"},   {"Suunto", "Vyper"},   {"aeris", "Atmos 2"},
        {"Mares", "Puck Pro"},   {"Dräger", "Ünterwasser ✓ Nitrox"},
    };

    private final DeviceConnector connector = new DeviceConnector();

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    /** One listing; every call must leave no libdivecomputer handle behind. */
    private TreeSet<Device> listDevices() throws NativeException {
        TreeSet<Device> devices = connector.getSupportedDevices();
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        return devices;
    }

    private static void useOwnTable(String[][] rows) {
        DcSim.descriptorsClear();
        for (String[] row : rows) {
            DcSim.descriptorsAdd(row[0], row[1], 0x10002, 0, 0x01);
        }
    }

    /** What the listing must hold for these rows: one Device per distinct pair, sorted. */
    private static List<Device> expectedDevices(List<String[]> rows) {
        TreeSet<Device> devices = new TreeSet<>();
        for (String[] row : rows) {
            devices.add(new Device(row[0], row[1], row[1]));
        }
        return new ArrayList<>(devices);
    }

    @Test
    void builtInTableGivesANaturallyOrderedTreeSetOfModels() throws NativeException {
        TreeSet<Device> devices = listDevices();

        assertNotNull(devices);
        assertSame(TreeSet.class, devices.getClass());
        assertNull(devices.comparator(), "natural ordering of Device");
        assertTrue(devices.contains(new Device("Dcsim", "Reef Explorer", "Reef Explorer")),
                   () -> "built-in computer missing from " + devices);
        for (Device device : devices) {
            assertTrue(!device.getVendor().isEmpty() && !device.getProduct().isEmpty(),
                       device::toString);
            assertEquals(device.getProduct(), device.getSerial(), "serial carries the product");
        }

        TreeSet<Device> again = listDevices();
        assertNotSame(devices, again);
        assertEquals(new ArrayList<>(devices), new ArrayList<>(again));
    }

    @Test
    void ownTableIsSortedWithRepeatedPairsCollapsedAndTextsUnchanged() throws NativeException {
        useOwnTable(OWN_TABLE);

        assertEquals(expectedDevices(List.of(OWN_TABLE)), new ArrayList<>(listDevices()));
    }

    @ParameterizedTest
    @ValueSource(strings = {"0.8.0", "0.9.0"})
    void realDescriptorTableGivesEveryDistinctModel(String release) throws Exception {
        Path table = TestEnvironment.descriptorTable(release);
        List<String[]> rows = readTable(table);
        assertEquals(rows.size(), DcSim.descriptorsLoadTsv(table.toString()));
        List<Device> expected = expectedDevices(rows);
        assertTrue(expected.size() < rows.size(), "the real tables repeat some pairs");

        assertEquals(expected, new ArrayList<>(listDevices()));
    }

    private static List<String[]> readTable(Path table) throws IOException {
        List<String> lines = Files.readAllLines(table);
        List<String[]> rows = new ArrayList<>();
        for (String line : lines.subList(1, lines.size())) {
            if (!line.isEmpty()) {
                String[] fields = line.split("\t");
                rows.add(new String[] {fields[0], fields[1]});
            }
        }
        return rows;
    }

    @Test
    void emptyTableGivesAnEmptySet() throws NativeException {
        DcSim.descriptorsClear();

        TreeSet<Device> devices = listDevices();

        assertNotNull(devices);
        assertTrue(devices.isEmpty());
    }

    @Test
    void iteratorThatCannotBeCreatedGivesAnEmptySet() throws NativeException {
        // libdivecomputer 0.9 renamed the function that creates it.
        String create = TestEnvironment.olderApi() ? "dc_descriptor_iterator"
                                                   : "dc_descriptor_iterator_new";
        DcSim.fault(create, 1, DcSim.Status.NOMEMORY);

        TreeSet<Device> devices = listDevices();

        assertEquals(1, DcSim.calls(create));
        assertNotNull(devices);
        assertTrue(devices.isEmpty(), devices::toString);
    }

    // A failing dc_iterator_next ends the listing silently with the models read before it: at
    // the first model, in the middle, and at the call that would have reported the end.
    @ParameterizedTest
    @CsvSource({"1, IO", "2, NOMEMORY", "3, IO", "4, TIMEOUT", "5, IO"})
    void iteratorFailingPartWayGivesTheModelsReadUntilThen(int nth, DcSim.Status status)
        throws NativeException {
        String[][] rows = {
            {"Suunto", "Zoop"}, {"Cressi", "Leonardo"}, {"Oceanic", "Atom 3.0"}, {"Mares", "Smart"}};
        useOwnTable(rows);
        DcSim.fault("dc_iterator_next", nth, status);

        TreeSet<Device> devices = listDevices();

        assertEquals(expectedDevices(List.of(rows).subList(0, nth - 1)), new ArrayList<>(devices));
        assertEquals(nth, DcSim.calls("dc_iterator_next"), "no call after the failing one");
    }

    @Test
    void concurrentCallsGiveTheSameModels() throws Exception {
        DcSim.descriptorsLoadTsv(TestEnvironment.descriptorTable("0.9.0").toString());
        List<Device> expected = new ArrayList<>(listDevices());
        ExecutorService pool = Executors.newFixedThreadPool(4);
        try {
            List<Future<List<Device>>> results = new ArrayList<>();
            for (int i = 0; i < 16; i++) {
                results.add(pool.submit(() -> new ArrayList<>(connector.getSupportedDevices())));
            }
            for (Future<List<Device>> result : results) {
                assertEquals(expected, result.get());
            }
        } finally {
            pool.shutdown();
        }
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
    }

    /** A connector asking for each model's transports, as the command-line tool does. */
    public static class TransportRecorder extends DeviceConnector {
        final List<String> calls = new ArrayList<>();
        private final int throwAt;

        TransportRecorder(int throwAt) {
            this.throwAt = throwAt;
        }

        @Override
        public void onSupportedDevice(String vendor, String product, long transports) {
            calls.add(vendor + "\t" + product + "\t0x" + Long.toHexString(transports));
            if (calls.size() == throwAt) {
                throw new IllegalStateException("handler refuses");
            }
        }
    }

    /** A method whose parameters differ from the library's is no handler. */
    public static class WrongHandler extends DeviceConnector {
        int calls;

        public void onSupportedDevice(String vendor, String product, int transports) {
            calls++;
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"0.8.0", "0.9.0"})
    void connectorWithAHandlerHearsEveryEntrysTransportsInTableOrder(String release)
        throws Exception {
        Path table = TestEnvironment.descriptorTable(release);
        DcSim.descriptorsLoadTsv(table.toString());
        List<String> expected = new ArrayList<>();
        List<String> lines = Files.readAllLines(table);
        for (String line : lines.subList(1, lines.size())) {
            if (!line.isEmpty()) {
                String[] fields = line.split("\t");
                expected.add(fields[0] + "\t" + fields[1] + "\t0x"
                             + Long.toHexString(Long.decode(fields[5])));
            }
        }
        TransportRecorder recorder = new TransportRecorder(0);

        TreeSet<Device> devices = recorder.getSupportedDevices();

        assertEquals(expected, recorder.calls);
        assertEquals(new ArrayList<>(listDevices()), new ArrayList<>(devices), "the same set");
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
    }

    @Test
    void throwingHandlerFailsTheListingAndWrongSignatureIsIgnored() throws Exception {
        TransportRecorder recorder = new TransportRecorder(3);

        NativeException failure = assertThrows(NativeException.class,
                                               recorder::getSupportedDevices);

        assertEquals("Could not report device.", failure.getMessage());
        assertEquals(3, recorder.calls.size(), "no call after the failing one");
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);

        WrongHandler wrong = new WrongHandler();
        assertEquals(new ArrayList<>(listDevices()),
                     new ArrayList<>(wrong.getSupportedDevices()));
        assertEquals(0, wrong.calls);
    }
}
