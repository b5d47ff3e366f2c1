package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Downloads over BLE from simulated dive computers behind a mock BlueZ: the computer's end runs
 * dcsim's BLE wire protocol in the mock, the library's BLE stream and dcsim's backend run here.
 */
class BleDownloadTest {
    static final String ADDRESS = "00:11:22:33:44:55";
    static final String SECOND_ADDRESS = "00:11:22:33:44:66";
    static final String VENDOR = "Simwater";
    static final String PRODUCT = "Perdix Sim";
    // A Shearwater Petrel-family descriptor reached over serial and BLE.
    static final int FAMILY = (10 << 16) + 1;
    static final int TRANSPORTS = 0x01 | 0x20;

    static final String DIVES = String.join("\n",
        "devinfo 11 82 5150",
        "dive", "datetime 2024-06-01 09:00:00", "divetime 2460", "maxdepth 31.5",
        "mix 32 0", "profile interval=10 tank=0:200:60 0:00@0 3:00@30 35:00@30 41:00@0",
        "dive", "datetime 2024-06-02 10:30:00", "divetime 3000", "maxdepth 45.2",
        "mix 18 45", "mix 50 0",
        "profile interval=4 temperature=22:12 0:00@0 4:00@45 20:00@45 50:00@0",
        "dive", "datetime 2024-06-03 14:00:00", "divetime 60", "maxdepth 2", "");
    // Many long dives: a transfer of some seconds at the mock's pace.
    static final String LONG = "devinfo 11 82 5151\n"
                               + "generate 40 samples=2000 interval=2 depth=20\n";

    @TempDir Path temporary;

    @BeforeEach
    void setUp() {
        DcSim.reset();
        DcSim.descriptorsAdd(VENDOR, PRODUCT, FAMILY, 10, TRANSPORTS);
    }

    private MockBluez bluez;

    // The mock of a test, stopped when the next starts or the test ends.
    private void start(String parameters) throws Exception {
        stopBluez();
        bluez = new MockBluez(parameters);
    }

    private void stopBluez() {
        if (bluez != null) {
            bluez.close();
            bluez = null;
        }
    }

    @AfterEach
    void noLeaks() {
        stopBluez();
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
    }

    private Path scenario(String address, String name, String port, String dives)
        throws Exception {
        Path file = temporary.resolve(name.replace(' ', '-') + ".txt");
        Files.writeString(file, "bluetooth " + address + " \"" + name + "\"\n"
                                    + "serial " + port + "\n" + dives);
        return file;
    }

    private static String device(String address, String name, Path scenario, String more) {
        return "{\"address\": \"" + address + "\", \"name\": \"" + name
            + "\", \"peripheral\": \"dcsim\", \"scenario\": \"" + scenario + "\""
            + (more.isEmpty() ? "" : ", " + more) + "}";
    }

    private static String parameters(String... devices) {
        return "{\"devices\": [" + String.join(", ", devices) + "]}";
    }

    private static List<Dive> download(String port, RecordingSet<Dive> dives)
        throws NativeException {
        Downloads.download(port, VENDOR, PRODUCT, dives);
        return new ArrayList<>(dives.added());
    }

    @Test
    void aWholeDownloadGivesTheSameDivesAsTheSerialOne() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", DIVES);
        DcSim.attachFile(file.toString());
        List<Dive> serial = download("sim:ble", RecordingSet.accepting());
        start(parameters(device(ADDRESS, PRODUCT, file, "")));
        RecordingSet<Dive> set = RecordingSet.accepting();
        Device device = Downloads.download("ble:" + ADDRESS, VENDOR, PRODUCT, set);
        List<Dive> ble = new ArrayList<>(set.added());
        assertEquals("5150", device.getSerial());
        assertEquals(3, ble.size());
        for (int i = 0; i < serial.size(); i++) {
            Dive expected = serial.get(i);
            Dive got = ble.get(i);
            assertEquals(expected.getDateTime(), got.getDateTime());
            assertEquals(expected.getDiveTime(), got.getDiveTime());
            assertEquals(expected.getMaxDepth(), got.getMaxDepth());
            assertEquals(expected.getGas(), got.getGas());
            assertEquals(expected.getSampleCount(), got.getSampleCount());
            assertArrayEquals(expected.getTimeProfile(), got.getTimeProfile());
            assertArrayEquals(expected.getDepthProfile(), got.getDepthProfile());
            assertArrayEquals(expected.getPressureProfile(), got.getPressureProfile());
            assertArrayEquals(expected.getTemperatureProfile(), got.getTemperatureProfile());
            assertArrayEquals(expected.getEventProfile(), got.getEventProfile());
        }
    }

    @Test
    void aBareAddressOpensBleForAModelWithoutClassicBluetooth() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", DIVES);
        start(parameters(device(ADDRESS, PRODUCT, file, "\"write_flags\": [\"write\"]")));
        assertEquals(3, download(ADDRESS, RecordingSet.accepting()).size());
    }

    @Test
    void aDeviceFoundOnlyByDiscoveryDownloads() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", DIVES);
        start(parameters(device(ADDRESS, PRODUCT, file, "\"known\": false")));
        assertEquals(3, download("ble:" + ADDRESS, RecordingSet.accepting()).size());
    }

    private static void assertOpeningFails(String message, String port, long maxMillis) {
        long start = System.nanoTime();
        NativeException thrown = assertThrows(
            NativeException.class, () -> download(port, RecordingSet.accepting()));
        long millis = (System.nanoTime() - start) / 1_000_000;
        assertEquals(message, thrown.getMessage());
        assertTrue(millis < maxMillis, "took " + millis + " ms");
    }

    @Test
    void withoutBlueZTheOpenFailsAtOnce() {
        assertOpeningFails("[-1]: Error opening device.", "ble:" + ADDRESS, 3000);
    }

    @Test
    void openingFailuresSayWhy() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", DIVES);
        String device = device(ADDRESS, PRODUCT, file, "");
        start("{\"adapter\": {\"powered\": false}, \"devices\": [" + device + "]}");
        assertOpeningFails("[-4]: Error opening device.", "ble:" + ADDRESS, 5000);

        start(parameters(device(ADDRESS, PRODUCT, file, "\"service\": \"none\"")));
        assertOpeningFails("[-1]: Error opening device.", "ble:" + ADDRESS, 5000);

        start(parameters(device));
        long start = System.nanoTime();
        assertOpeningFails("[-4]: Error opening device.", "ble:" + SECOND_ADDRESS, 25_000);
        assertTrue(System.nanoTime() - start > 9_000_000_000L, "the search is 10 s long");
    }

    @Test
    void aDisconnectInTheMiddleFailsWithoutADive() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", DIVES);
        start(parameters(device(ADDRESS, PRODUCT, file, "\"disconnect_after\": 40")));
        RecordingSet<Dive> set = RecordingSet.accepting();
        NativeException thrown =
            assertThrows(NativeException.class, () -> download("ble:" + ADDRESS, set));
        assertEquals("[-6]: Error downloading the dives.", thrown.getMessage());
        assertEquals(List.of(), set.added());
    }

    @Test
    void interruptDeviceDownloadWorksOverBle() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", LONG);
        start(parameters(device(ADDRESS, PRODUCT, file, "")));
        RecordingSet<Dive> set = RecordingSet.accepting();
        ExecutorService executor = Executors.newSingleThreadExecutor();
        try {
            Future<List<Dive>> running =
                executor.submit(() -> download("ble:" + ADDRESS, set));
            // The dives reach the set only at the end; the first has come once it is parsed.
            while (DcSim.calls("dc_parser_new") == 0 && !running.isDone()) {
                Thread.sleep(5);
            }
            Downloads.connector().interruptDeviceDownload();
            List<Dive> dives = running.get();
            assertTrue(!dives.isEmpty() && dives.size() < 40, dives.size() + " dives");
        } finally {
            executor.shutdownNow();
        }
    }

    // Leaks are counted once both have ended.
    private static List<Dive> downloadAlongside(String address) throws NativeException {
        RecordingSet<Dive> dives = RecordingSet.accepting();
        Downloads.connector().loadUserDivesFromDevice("ble:" + address, VENDOR, PRODUCT, dives);
        return new ArrayList<>(dives.added());
    }

    @Test
    void twoBleDownloadsAtOnce() throws Exception {
        Path first = scenario(ADDRESS, PRODUCT, "sim:ble", DIVES);
        Path second = scenario(SECOND_ADDRESS, "Perdix Two", "sim:ble2", LONG.replace("40", "3"));
        start(parameters(
            device(ADDRESS, PRODUCT, first, ""),
            device(SECOND_ADDRESS, "Perdix Two", second, "")));
        ExecutorService executor = Executors.newFixedThreadPool(2);
        try {
            Future<List<Dive>> one = executor.submit(() -> downloadAlongside(ADDRESS));
            Future<List<Dive>> two = executor.submit(() -> downloadAlongside(SECOND_ADDRESS));
            assertEquals(3, one.get().size());
            assertEquals(3, two.get().size());
        } finally {
            executor.shutdownNow();
        }
    }

    // That a read waiting for the computer ends at once on a cancellation is the native BLE
    // stream test's (a read without timeout ends CANCELLED); here Ctrl-C goes through the JVM. No
    // bound on the time: on a loaded machine the child's signal, output and polling alone took
    // 2.5 s.
    @Test
    void ctrlCEndsALongBleTransfer() throws Exception {
        Path file = scenario(ADDRESS, PRODUCT, "sim:ble", LONG);
        start(parameters(device(ADDRESS, PRODUCT, file, "")));
        List<Path> classPath = List.of(TestEnvironment.path("diveconnector.java.jar"),
                                       TestEnvironment.classesOf(SignalProbe.class));
        List<String> command = new ArrayList<>(TestEnvironment.withDefaultSigint());
        command.addAll(TestEnvironment.childJvm(
            classPath, SignalProbe.class.getName(), "ble:" + ADDRESS, VENDOR, PRODUCT,
            String.valueOf(FAMILY), String.valueOf(TRANSPORTS)));
        ChildProcess.Running running = ChildProcess.start(command, Map.of());
        running.interruptWhile(SignalProbe.TRANSFERRING, SignalProbe.DOWNLOAD_ENDED);
        ChildProcess child = running.finish().assertClean(130);
        DownloadOutcome outcome = DownloadOutcome.parse(child.stdout());
        assertEquals("[-10]: Error downloading the dives.", outcome.message(),
                     child::toString);
        assertEquals(List.of(), outcome.dives());
        assertEquals(0, outcome.liveHandles());
    }

    // The pairing tests each use an address of their own: the access codes that a download
    // receives stay with this JVM.
    static final String PAIRED_ADDRESS = "00:11:22:33:44:A1";
    static final String UNPAIRED_ADDRESS = "00:11:22:33:44:A2";
    static final String PROCESS_PAIRED_ADDRESS = "00:11:22:33:44:A3";
    static final String STALE_FILE_ADDRESS = "00:11:22:33:44:A4";
    static final String STALE_MEMORY_ADDRESS = "00:11:22:33:44:A5";
    static final String LOGGED_ADDRESS = "00:11:22:33:44:A6";

    private List<Dive> downloadWith(DeviceConnector connector, String address)
        throws NativeException {
        RecordingSet<Dive> dives = RecordingSet.accepting();
        try {
            connector.loadUserDivesFromDevice("ble:" + address, VENDOR, PRODUCT, dives);
        } finally {
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        }
        return new ArrayList<>(dives.added());
    }

    @Test
    void aPairingComputerAsksForItsPinOnceAndThenUsesItsAccessCode() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "0.8 has no PIN requests");
        Path file = scenario(PAIRED_ADDRESS, "FH001234", "sim:pin", "pin 123456\n" + DIVES);
        start(parameters(device(PAIRED_ADDRESS, "FH001234", file, "")));
        Path state = temporary.resolve("state");
        System.setProperty("diveconnector.fingerprints", state.toString());
        try {
            PinConnector connector = new PinConnector("123456");
            assertEquals(3, downloadWith(connector, PAIRED_ADDRESS).size());
            assertEquals(1, connector.asked.get());
            assertEquals(PAIRED_ADDRESS + " FH001234", connector.askedFor);
            assertTrue(Files.isRegularFile(
                state.resolve("ble-access-codes").resolve(PAIRED_ADDRESS.replace(':', '_'))));
            // The state directory holds the fingerprint too: nothing new the second time.
            assertEquals(0, downloadWith(connector, PAIRED_ADDRESS).size());
            assertEquals(1, connector.asked.get(), "the stored access code was enough");
        } finally {
            System.clearProperty("diveconnector.fingerprints");
        }
    }

    @Test
    void withoutAPinAPairingComputerFailsToOpen() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "0.8 has no PIN requests");
        Path file = scenario(UNPAIRED_ADDRESS, "FH001234", "sim:pin", "pin 123456\n" + DIVES);
        start(parameters(device(UNPAIRED_ADDRESS, "FH001234", file, "")));
        for (DeviceConnector connector :
             List.of(new DeviceConnector(), new PinConnector("throw"), new PinConnector("654321"))) {
            NativeException thrown = assertThrows(
                NativeException.class, () -> downloadWith(connector, UNPAIRED_ADDRESS));
            assertTrue(thrown.getMessage().endsWith("Error opening device."), thrown.getMessage());
        }
    }

    @Test
    void withoutAStateDirectoryTheAccessCodeLastsForTheJvm() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "0.8 has no PIN requests");
        Path file =
            scenario(PROCESS_PAIRED_ADDRESS, "FH001234", "sim:pin", "pin 123456\n" + DIVES);
        start(parameters(device(PROCESS_PAIRED_ADDRESS, "FH001234", file, "")));
        PinConnector connector = new PinConnector("123456");
        assertEquals(3, downloadWith(connector, PROCESS_PAIRED_ADDRESS).size());
        assertEquals(3, downloadWith(connector, PROCESS_PAIRED_ADDRESS).size(),
                     "no fingerprint kept either");
        assertEquals(1, connector.asked.get(), "the code of the first download was enough");
        PinConnector another = new PinConnector("123456");
        assertEquals(3, downloadWith(another, PROCESS_PAIRED_ADDRESS).size());
        assertEquals(0, another.asked.get(), "the code belongs to the JVM, not the connector");

        // Another JVM knows no code: it asks once, and then no more.
        List<Path> classPath = List.of(TestEnvironment.path("diveconnector.java.jar"),
                                       TestEnvironment.classesOf(PinProbe.class));
        ChildProcess child = ChildProcess
            .run(TestEnvironment.childJvm(classPath, PinProbe.class.getName(),
                                          "ble:" + PROCESS_PAIRED_ADDRESS, VENDOR, PRODUCT,
                                          String.valueOf(FAMILY), String.valueOf(TRANSPORTS),
                                          "123456", "2"),
                 Map.of())
            .assertClean(0);
        // The library's own lines on standard output come between the probe's.
        List<String> said =
            child.stdout()
                .lines()
                .filter(line -> line.startsWith("dives ") || line.startsWith("asked "))
                .toList();
        assertEquals(List.of("dives 3", "dives 3", "asked 1"), said, child::toString);
    }

    @Test
    void aStaleAccessCodeIsDroppedAndThePinAskedForAgain() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "0.8 has no PIN requests");
        // A code in the state directory that the computer no longer takes.
        Path file = scenario(STALE_FILE_ADDRESS, "FH001234", "sim:stale", "pin 123456\n" + DIVES);
        start(parameters(device(STALE_FILE_ADDRESS, "FH001234", file, "")));
        Path state = temporary.resolve("state");
        Path code = state.resolve("ble-access-codes").resolve(STALE_FILE_ADDRESS.replace(':', '_'));
        Files.createDirectories(code.getParent());
        byte[] stale = new byte[16];
        Arrays.fill(stale, (byte) 0x42);
        Files.write(code, stale);
        System.setProperty("diveconnector.fingerprints", state.toString());
        try {
            PinConnector connector = new PinConnector("123456");
            assertEquals(3, downloadWith(connector, STALE_FILE_ADDRESS).size());
            assertEquals(1, connector.asked.get(), "asked once, on the second opening");
            byte[] kept = Files.readAllBytes(code);
            assertEquals(16, kept.length);
            assertFalse(Arrays.equals(stale, kept), "the new code replaced the stale one");
        } finally {
            System.clearProperty("diveconnector.fingerprints");
        }

        // A code kept by the JVM only, gone stale when the computer paired with another PIN.
        Path first = scenario(STALE_MEMORY_ADDRESS, "FH001234", "sim:memory",
                              "pin 123456\n" + DIVES);
        start(parameters(device(STALE_MEMORY_ADDRESS, "FH001234", first, "")));
        PinConnector before = new PinConnector("123456");
        assertEquals(3, downloadWith(before, STALE_MEMORY_ADDRESS).size());
        assertEquals(1, before.asked.get());
        Path repaired = scenario(STALE_MEMORY_ADDRESS, "FH001234", "sim:memory",
                                 "pin 654321\n" + DIVES);
        start(parameters(device(STALE_MEMORY_ADDRESS, "FH001234", repaired, "")));
        PinConnector after = new PinConnector("654321");
        assertEquals(3, downloadWith(after, STALE_MEMORY_ADDRESS).size());
        assertEquals(1, after.asked.get());
        // The code the second opening got is kept: no PIN the next time.
        PinConnector next = new PinConnector("111111");
        assertEquals(3, downloadWith(next, STALE_MEMORY_ADDRESS).size());
        assertEquals(0, next.asked.get());
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02X", b & 0xFF));
        }
        return text.toString();
    }

    @Test
    void neitherThePinNorTheAccessCodeReachesTheSupportLog() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "0.8 has no PIN requests");
        Path file = scenario(LOGGED_ADDRESS, "FH001234", "sim:pin", "pin 654321\n" + DIVES);
        start(parameters(device(LOGGED_ADDRESS, "FH001234", file, "")));
        Path state = temporary.resolve("state");
        Path log = temporary.resolve("support.log");
        System.setProperty("diveconnector.fingerprints", state.toString());
        System.setProperty("diveconnector.log", log.toString());
        System.setProperty("diveconnector.loglevel", "all");
        try {
            PinConnector connector = new PinConnector("654321");
            assertEquals(3, downloadWith(connector, LOGGED_ADDRESS).size());
            // Again with the stored code, which libdivecomputer reads through the stream.
            System.setProperty("diveconnector.fingerprints.refresh", "true");
            assertEquals(3, downloadWith(connector, LOGGED_ADDRESS).size());
            assertEquals(1, connector.asked.get());
        } finally {
            System.clearProperty("diveconnector.fingerprints");
            System.clearProperty("diveconnector.fingerprints.refresh");
            System.clearProperty("diveconnector.log");
            System.clearProperty("diveconnector.loglevel");
        }
        byte[] code = Files.readAllBytes(
            state.resolve("ble-access-codes").resolve(LOGGED_ADDRESS.replace(':', '_')));
        String text = Files.readString(log, StandardCharsets.ISO_8859_1);
        // Support still sees the whole exchange.
        for (String exchange :
             List.of("Ioctl read: size=7, data=************00", "Ioctl write: size=16, data=",
                     "Access code: size=16", "Write: size=7, data=50************",
                     "Downloaded 3 dives.")) {
            assertTrue(text.contains(exchange), exchange + " in\n" + text);
        }
        String codeHex = hex(code);
        byte[] pin = "654321".getBytes(StandardCharsets.US_ASCII);
        List<String> secrets = List.of(
            "654321", hex(pin), "060504030201", codeHex,
            hex(codeHex.getBytes(StandardCharsets.US_ASCII)),
            hex(codeHex.toLowerCase().getBytes(StandardCharsets.US_ASCII)),
            new String(code, StandardCharsets.ISO_8859_1));
        String folded = text.toLowerCase();
        for (String secret : secrets) {
            assertFalse(folded.contains(secret.toLowerCase()), secret + " in\n" + text);
        }
        if (!System.getProperty("os.name").startsWith("Windows")) {
            assertEquals(PosixFilePermissions.fromString("rw-------"),
                         Files.getPosixFilePermissions(log));
        }
    }
}
