package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.details.DiveDetails;
import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Downloads with the real libdivecomputer, over the library's own BLE stream, from an emulated
 * Shearwater Perdix 2 (tests/ble/shearwater_petrel.py) behind the mock BlueZ on a private bus.
 * The emulator writes the values it encoded; the Java objects must hold exactly those, and each
 * dive's details what the release's Shearwater backend parses from the encoded log.
 */
class RealBleDownloadTest {
    static final String ADDRESS = "C4:4F:33:12:AB:01";
    static final String PORT = "ble:" + ADDRESS;
    static final String VENDOR = "Shearwater";
    static final String PRODUCT = "Perdix 2";
    // Long enough a logbook for a transfer of some seconds.
    static final int LONG_LOGBOOK = 20;

    @TempDir Path temporary;
    private MockBluez bluez;

    /** Starts the computer with more options of its spec; answers where it writes its values. */
    private Path start(String options) throws Exception {
        return start(PRODUCT, options);
    }

    /** The same for a computer of that name. */
    private Path start(String name, String options) throws Exception {
        Path expected = temporary.resolve("expected.json");
        bluez = new MockBluez("{\"devices\": [{\"address\": \"" + ADDRESS + "\", \"name\": \""
            + name + "\", \"peripheral\": \"shearwater\", \"expected\": \"" + expected + "\""
            + (options.isEmpty() ? "" : ", " + options) + "}]}");
        return expected;
    }

    @AfterEach
    void stop() {
        if (bluez != null) {
            bluez.close();
        }
    }

    @SuppressWarnings("unchecked")
    private static Map<String, Object> read(Path file) throws Exception {
        return (Map<String, Object>) JsonReader.read(Files.readString(file));
    }

    private static float number(Object value) {
        // The emulator wrote the double libdivecomputer computes; Java gets it narrowed.
        return (float) Double.parseDouble(((JsonReader.Number) value).text());
    }

    private static Float[] floats(Object values) {
        List<?> list = (List<?>) values;
        Float[] result = new Float[list.size()];
        for (int i = 0; i < result.length; i++) {
            result[i] = list.get(i) == null ? null : number(list.get(i));
        }
        return result;
    }

    private static Integer[] integers(Object values) {
        List<?> list = (List<?>) values;
        Integer[] result = new Integer[list.size()];
        for (int i = 0; i < result.length; i++) {
            result[i] = list.get(i) == null ? null : (int) number(list.get(i));
        }
        return result;
    }

    @SuppressWarnings("unchecked")
    private static List<Map<String, Object>> expectedDives(Map<String, Object> expected) {
        return (List<Map<String, Object>>) expected.get("dives");
    }

    /** Each dive handed over is the emulator's dive of the same start, value by value. */
    private static void assertEncodedDives(Map<String, Object> expected, List<Dive> dives) {
        Map<String, Map<String, Object>> byStart = new HashMap<>();
        for (Map<String, Object> dive : expectedDives(expected)) {
            byStart.put((String) dive.get("dateTime"), dive);
        }
        for (Dive got : dives) {
            String start = got.getDateTime();
            Map<String, Object> want = byStart.remove(start);
            assertNotNull(want, "no such dive or twice: " + start);
            assertEquals(number(want.get("diveTime")), got.getDiveTime(), start);
            assertEquals(number(want.get("maxDepth")), got.getMaxDepth(), start);
            assertEquals((int) number(want.get("oxygen")), got.getGas().getOxygen(), start);
            assertEquals((int) number(want.get("helium")), got.getGas().getHelium(), start);
            Float[] time = floats(want.get("time"));
            assertEquals(time.length, got.getSampleCount(), start);
            assertArrayEquals(time, got.getTimeProfile(), start);
            assertArrayEquals(floats(want.get("depth")), got.getDepthProfile(), start);
            assertArrayEquals(floats(want.get("pressure")), got.getPressureProfile(), start);
            assertArrayEquals(floats(want.get("temperature")), got.getTemperatureProfile(), start);
            assertArrayEquals(integers(want.get("event")), got.getEventProfile(), start);
        }
    }

    /** Keeps each dive's details by its start. */
    private static final class DetailsConnector extends DeviceConnector {
        final Map<String, DiveDetails> details = new HashMap<>();

        public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
            details.put(dive.getDateTime(), diveDetails);
        }
    }

    @Test
    void aWholeDownloadHandsOverEveryDiveValueByValue() throws Exception {
        assertWholeDownload(PRODUCT, start(""));
    }

    // Of the Shearwater models only the Teric records the time zone (UTC-5 with daylight
    // saving, -4 h, in the emulated one).
    @Test
    void aTericsDivesCarryTheirTimeZone() throws Exception {
        assertWholeDownload("Teric", start("Teric", "\"model\": \"Teric\""));
    }

    private static void assertWholeDownload(String product, Path expectedFile) throws Exception {
        RecordingSet<Dive> set = RecordingSet.accepting();
        DetailsConnector connector = new DetailsConnector();
        Device device = connector.loadUserDivesFromDevice(PORT, VENDOR, product, set);
        Map<String, Object> expected = read(expectedFile);
        assertEquals(expected.get("serial"), device.getSerial());
        assertEquals(expectedDives(expected).size(), set.added().size());
        assertEncodedDives(expected, set.added());
        assertEquals(expectedDives(expected).size(), connector.details.size());
        for (Map<String, Object> dive : expectedDives(expected)) {
            String start = (String) dive.get("dateTime");
            DetailsRendering.assertDetails(RealLibrary.ofRelease(dive.get("details")),
                connector.details.get(start), 0, start);
        }
    }

    /** Keeps the models of each find, by port. */
    private static final class Scanner extends DeviceConnector {
        final Map<String, List<Device>> models = new HashMap<>();

        @Override
        public void onDeviceFound(
            String port, String name, int signalStrength, long transport, Device[] found) {
            models.put(port, List.of(found));
        }
    }

    @Test
    void aScanNamesTheModelAndItsPortDownloads() throws Exception {
        // As a computer just woken for its download: BlueZ learns of it only by discovery.
        start("\"known\": false");
        Scanner scanner = new Scanner();
        scanner.scanForDevices(2);
        List<Device> models = scanner.models.get(PORT);
        assertEquals(
            List.of(new Device(VENDOR, PRODUCT, PRODUCT)), models, scanner.models::toString);
        RecordingSet<Dive> set = RecordingSet.accepting();
        new DeviceConnector().loadUserDivesFromDevice(
            PORT, models.get(0).getVendor(), models.get(0).getProduct(), set);
        assertEquals(4, set.added().size());
    }

    /** Interrupts its download once the transfer has brought two of the logbook's dives. */
    private static final class InterruptingConnector extends DeviceConnector {
        private final int logbook;

        InterruptingConnector(int logbook) { this.logbook = logbook; }

        @Override
        public void onDownloadProgress(long current, long maximum) {
            // The real backend counts the manifest as one step and each dive as one.
            if (current * (logbook + 1) >= 3 * maximum) {
                interruptDeviceDownload();
            }
        }
    }

    @Test
    void interruptDeviceDownloadKeepsTheDivesDownloadedSoFar() throws Exception {
        Path expectedFile = start("\"dives\": " + LONG_LOGBOOK);
        RecordingSet<Dive> set = RecordingSet.accepting();
        new InterruptingConnector(LONG_LOGBOOK).loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, set);
        int count = set.added().size();
        assertTrue(count >= 2 && count < LONG_LOGBOOK, count + " dives");
        assertEncodedDives(read(expectedFile), set.added());
    }

    // The transfer would bring every dive; no bound on the time, which on a loaded machine the
    // child's signal, output and polling alone stretch (BleDownloadTest says more).
    @Test
    void ctrlCEndsTheTransferWithoutADive() throws Exception {
        start("\"dives\": " + LONG_LOGBOOK);
        List<String> command =
            new ArrayList<>(List.of(TestEnvironment.path("defaultsigint.executable").toString(),
                TestEnvironment.javaBinary().toString(), "-Xcheck:jni",
                "-Ddiveconnector.library=" + TestEnvironment.path("diveconnector.library"), "-cp",
                TestEnvironment.classesOf(BleSignalProbe.class) + File.pathSeparator
                    + TestEnvironment.path("diveconnector.java.jar"),
                BleSignalProbe.class.getName(), PORT, VENDOR, PRODUCT));
        ChildProcess.Running running = ChildProcess.start(command, Map.of());
        running.interruptWhile(BleSignalProbe.TRANSFERRING, BleSignalProbe.DOWNLOAD_ENDED);
        ChildProcess child = running.finish().assertClean(130);
        assertTrue(
            child.stdout().contains("outcome [-10]: Error downloading the dives.\ndives 0\n"),
            child::toString);
    }

    @Test
    void aStoredFingerprintBringsOnlyNewDives() throws Exception {
        Path expectedFile = start("");
        Path state = temporary.resolve("state");
        System.setProperty("diveconnector.fingerprints", state.toString());
        try {
            DeviceConnector connector = new DeviceConnector();
            RecordingSet<Dive> first = RecordingSet.accepting();
            connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, first);
            assertEquals(4, first.added().size());
            // The newest dive's fingerprint, as the computer's manifest lists it.
            List<Path> stored;
            try (var files = Files.list(state)) {
                stored = files.filter(Files::isRegularFile).toList();
            }
            assertEquals(1, stored.size(), stored::toString);
            assertEquals(read(expectedFile).get("fingerprint"),
                HexFormat.of().formatHex(Files.readAllBytes(stored.get(0))));
            RecordingSet<Dive> second = RecordingSet.accepting();
            connector.loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, second);
            assertEquals(List.of(), second.added());
        } finally {
            System.clearProperty("diveconnector.fingerprints");
        }
    }

    // Each fails the whole download with libdivecomputer's status, handing over no dive. Replies
    // are counted from 1 per connection: 4 identifiers, the manifest (start, 6 blocks, end), then
    // the newest dive's start, so 15 lies inside the first dive's transfer. A Shearwater backend
    // retries nothing.
    @ParameterizedTest
    @CsvSource(delimiter = '|',
        value =
            {
                "\"disconnect_after\": 60 | [-6]: Error downloading the dives.",
                "\"corrupt_reply\": 15    | [-8]: Error downloading the dives.",
                "\"short_reply\": 15      | [-8]: Error downloading the dives.",
                "\"silent_after\": 15     | [-7]: Error downloading the dives.",
            })
    void
    aFaultInTheMiddleFailsTheDownloadWithoutADive(String fault, String message) throws Exception {
        start(fault);
        RecordingSet<Dive> set = RecordingSet.accepting();
        NativeException thrown = assertThrows(NativeException.class,
            () -> new DeviceConnector().loadUserDivesFromDevice(PORT, VENDOR, PRODUCT, set));
        assertEquals(message, thrown.getMessage());
        assertEquals(List.of(), set.added());
    }
}
