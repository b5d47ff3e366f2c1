package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.details.DiveDetails;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.TreeSet;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Downloads through the real libdivecomputer from the emulated Suunto Vyper into this JVM (run
 * under -Xcheck:jni), compared value by value with what the emulator encoded.
 */
class RealDownloadTest {
    private static final String VENDOR = "Suunto";
    private static final String PRODUCT = "Vyper";
    private static final String CACHE_PROPERTY = "diveconnector.fingerprints";

    /**
     * Records the download events and each dive's details by its start; may interrupt the
     * download once enough bytes have come.
     */
    private static final class RecordingConnector extends DeviceConnector {
        final List<long[]> progress = new ArrayList<>();
        final Map<String, DiveDetails> details = new TreeMap<>();
        final List<long[]> infos = new ArrayList<>();
        /** Dive bytes after the identity beyond which the download is interrupted. */
        long interruptAfterDiveBytes = -1;
        private long interruptAbove = Long.MAX_VALUE;

        @Override
        public void onDownloadProgress(long current, long maximum) {
            progress.add(new long[] {current, maximum});
            if (current > interruptAbove) {
                interruptDeviceDownload();
            }
        }

        public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
            details.put(dive.getDateTime(), diveDetails);
        }

        @Override
        public void onDeviceInfo(long model, long firmware, long serial) {
            infos.add(new long[] {model, firmware, serial});
            if (interruptAfterDiveBytes >= 0) {
                interruptAbove = progress.get(progress.size() - 1)[0] + interruptAfterDiveBytes;
            }
        }
    }

    @AfterEach
    void cacheOff() {
        System.clearProperty(CACHE_PROPERTY);
    }

    private static TreeSet<Dive> download(
        DeviceConnector connector, VyperEmulator vyper, Device expectedDevice) throws Exception {
        TreeSet<Dive> dives = new TreeSet<>();
        Device device = connector.loadUserDivesFromDevice(vyper.port(), VENDOR, PRODUCT, dives);
        assertEquals(expectedDevice, device);
        return dives;
    }

    private static Device vyperDevice(VyperEmulator vyper) throws IOException {
        return new Device(VENDOR, PRODUCT, Long.toString(vyper.serial()));
    }

    /** The dives (oldest first) are those encoded, to the last sample. */
    private static void assertSameDives(
        List<VyperEmulator.EncodedDive> expected, TreeSet<Dive> dives, Device device) {
        List<Dive> actual = new ArrayList<>(dives);
        assertEquals(expected.size(), actual.size(), dives::toString);
        for (int i = 0; i < expected.size(); ++i) {
            VyperEmulator.EncodedDive encoded = expected.get(i);
            Dive dive = actual.get(i);
            String where = "dive " + encoded.dateTime();
            assertEquals(device, dive.getDevice(), where);
            assertEquals(encoded.dateTime(), dive.getDateTime(), where);
            assertEquals(encoded.diveTime(), dive.getDiveTime(), where);
            assertEquals(encoded.maxDepth(), dive.getMaxDepth(), where);
            assertEquals(encoded.oxygen(), dive.getGas().getOxygen(), where);
            assertEquals(encoded.helium(), dive.getGas().getHelium(), where);
            List<VyperEmulator.Sample> samples = encoded.samples();
            assertEquals(samples.size(), dive.getSampleCount(), where);
            for (int s = 0; s < samples.size(); ++s) {
                String at = where + ", sample " + s;
                assertEquals(samples.get(s).time(), dive.getTimeProfile()[s], at);
                assertEquals(samples.get(s).depth(), dive.getDepthProfile()[s], at);
                assertEquals(samples.get(s).event(), dive.getEventProfile()[s], at);
                // A Vyper records neither pressure nor temperature per sample.
                assertNull(dive.getPressureProfile()[s], at);
                assertNull(dive.getTemperatureProfile()[s], at);
            }
        }
    }

    @Test
    void wholeDownloadHandsEveryDiveAndEventToJava() throws Exception {
        try (VyperEmulator vyper = VyperEmulator.start()) {
            RecordingConnector connector = new RecordingConnector();

            TreeSet<Dive> dives = download(connector, vyper, vyperDevice(vyper));

            assertSameDives(vyper.dives(), dives, vyperDevice(vyper));
            assertEquals(vyper.dives().size(), connector.details.size());
            for (VyperEmulator.EncodedDive dive : vyper.dives()) {
                DetailsRendering.assertDetails(RealLibrary.ofRelease(dive.details()),
                    connector.details.get(dive.dateTime()), 0, dive.dateTime());
            }
            assertEquals(1, connector.infos.size());
            assertArrayEquals(new long[] {10, 23, vyper.serial()}, connector.infos.get(0));
            assertTrue(connector.progress.size() > 2);
            long previous = 0;
            for (long[] step : connector.progress) {
                assertTrue(step[0] >= previous && step[0] <= step[1],
                    () -> step[0] + " of " + step[1] + " after " + connector.progress);
                previous = step[0];
            }
        }
    }

    /** The cache directory's files with their contents, subdirectories left out. */
    private static Map<String, List<Byte>> cacheFiles(Path directory) throws IOException {
        Map<String, List<Byte>> files = new TreeMap<>();
        try (Stream<Path> entries = Files.list(directory)) {
            for (Path file : (Iterable<Path>) entries::iterator) {
                if (Files.isRegularFile(file)) {
                    List<Byte> bytes = new ArrayList<>();
                    for (byte b : Files.readAllBytes(file)) {
                        bytes.add(b);
                    }
                    files.put(file.getFileName().toString(), bytes);
                }
            }
        }
        return files;
    }

    private static void dctoolDownload(int dives, Path cache, Path output) throws Exception {
        try (VyperEmulator vyper = VyperEmulator.start("--dives", Integer.toString(dives))) {
            ChildProcess
                .run(List.of(TestEnvironment.path("dctool").toString(), "-q", "-d",
                         VENDOR + " " + PRODUCT, "download", "-c", cache.toString(), "-o",
                         output.toString(), vyper.port()),
                    Map.of())
                .assertClean(0);
        }
    }

    @Test
    void fingerprintCacheHoldsWhatDctoolWritesAndBringsOnlyNewDives(@TempDir Path directory)
        throws Exception {
        Path ours = directory.resolve("ours");
        Path theirs = directory.resolve("dctool");
        Files.createDirectories(theirs);
        System.setProperty(CACHE_PROPERTY, ours.toString());

        try (VyperEmulator vyper = VyperEmulator.start("--dives", "2")) {
            assertSameDives(vyper.dives(),
                download(new DeviceConnector(), vyper, vyperDevice(vyper)), vyperDevice(vyper));
        }
        dctoolDownload(2, theirs, directory.resolve("two.xml"));
        assertEquals(cacheFiles(theirs), cacheFiles(ours));

        // A third dive since: only it comes, and both caches then name it.
        try (VyperEmulator vyper = VyperEmulator.start("--dives", "3")) {
            List<VyperEmulator.EncodedDive> all = vyper.dives();
            assertSameDives(all.subList(2, 3),
                download(new DeviceConnector(), vyper, vyperDevice(vyper)), vyperDevice(vyper));
        }
        dctoolDownload(3, theirs, directory.resolve("three.xml"));
        assertEquals(cacheFiles(theirs), cacheFiles(ours));
        Map<String, List<Byte>> files = cacheFiles(ours);
        assertEquals(1, files.size(), files.keySet()::toString);
    }

    // A Vyper's fingerprints are 5 bytes (the dive's date): a cached file of another size, here
    // the start of the newest dive's in 4 bytes (another family's size), brings every dive.
    @Test
    void cacheFileOfAnotherSizeBringsEveryDive(@TempDir Path directory) throws Exception {
        System.setProperty(CACHE_PROPERTY, directory.toString());
        try (VyperEmulator vyper = VyperEmulator.start()) {
            List<VyperEmulator.EncodedDive> encoded = vyper.dives();
            byte[] newest = HexFormat.of().parseHex(encoded.get(encoded.size() - 1).fingerprint());
            Path file = directory.resolve(String.format("vyper-%08X.bin", vyper.serial()));
            Files.write(file, Arrays.copyOf(newest, 4));

            assertSameDives(encoded, download(new DeviceConnector(), vyper, vyperDevice(vyper)),
                vyperDevice(vyper));
            assertArrayEquals(newest, Files.readAllBytes(file));
        }
    }

    @Test
    void interruptDeviceDownloadKeepsTheDivesBeforeIt() throws Exception {
        try (VyperEmulator vyper = VyperEmulator.start()) {
            List<VyperEmulator.EncodedDive> encoded = vyper.dives();
            RecordingConnector connector = new RecordingConnector();
            // Once the second dive's first packet is in, the newest dive is complete.
            connector.interruptAfterDiveBytes = encoded.get(encoded.size() - 1).size();

            TreeSet<Dive> dives = download(connector, vyper, vyperDevice(vyper));

            assertSameDives(
                encoded.subList(encoded.size() - 1, encoded.size()), dives, vyperDevice(vyper));
        }
    }

    @Test
    void ctrlCCancelsTheToolsDownload() throws Exception {
        try (VyperEmulator vyper = VyperEmulator.start()) {
            List<String> command = new ArrayList<>();
            command.add(TestEnvironment.path("defaultsigint.executable").toString());
            command.addAll(Tool.command(
                "download", "--port", vyper.port(), "--vendor", VENDOR, "--product", PRODUCT));
            ChildProcess.Running tool = ChildProcess.start(command, Tool.JNI_CHECKS);
            // The tool still reads the newest dive: the next dive's transfer sees the cancel.
            vyper.awaitLine("dive 1 sent");
            tool.interrupt();

            ChildProcess child = tool.finish().assertClean(130);
            assertTrue(child.stderr().contains("Cancelled"), child::toString);
            assertTrue(
                child.stdout().startsWith("Downloading from Suunto Vyper on "), child::toString);
            assertTrue(!child.stdout().contains("Date and time"), child::toString);
        }
    }

    // Each fails the whole download with one of libdivecomputer's statuses, handing over no
    // dive. The unplugged terminal hangs up: a read then finds the end of the data, which
    // libdivecomputer's serial code reports as a timeout, while setting a modem line meanwhile
    // fails as I/O; which of the two the host is doing when the cable comes out is a matter of
    // scheduling.
    @ParameterizedTest
    @CsvSource({"silent, -7", "unplug, -6 -7", "corrupt, -8"})
    void failingComputerFailsTheDownloadWithNoDive(String fault, String statuses) throws Exception {
        try (VyperEmulator vyper = VyperEmulator.start("--fault", fault)) {
            TreeSet<Dive> dives = new TreeSet<>();

            NativeException failure = assertThrows(NativeException.class, () -> {
                new DeviceConnector().loadUserDivesFromDevice(vyper.port(), VENDOR, PRODUCT, dives);
            });

            List<String> messages = new ArrayList<>();
            for (String status : statuses.split(" ")) {
                messages.add("[" + status + "]: Error downloading the dives.");
            }
            assertTrue(messages.contains(failure.getMessage()), failure::getMessage);
            assertTrue(dives.isEmpty(), dives::toString);
        }
    }
}
