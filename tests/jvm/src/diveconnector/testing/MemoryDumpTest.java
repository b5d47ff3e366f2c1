package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.exceptions.NativeException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** dumpDeviceMemory: the computer's raw memory, with a download's events and failures. */
class MemoryDumpTest {
    // Shearwater Petrel: a family whose libdivecomputer backend has no memory dump.
    private static final int SHEARWATER_PETREL = (10 << 16) + 1;
    private static final String PETREL_PRODUCT = "Petrel Test";
    private static final String TRANSFER = "transfer 3 0\n";
    private static final String DIVES = "dive\nraw 00010203040506\ndive\nraw FFFEFD\n";
    private static final String TWO_RAW_DIVES = TRANSFER + DIVES;

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    /** Records the progress it hears; throws at the progress numbered failAt (from 1). */
    static final class ProgressConnector extends DeviceConnector {
        final List<long[]> progress = new ArrayList<>();
        private final int failAt;

        ProgressConnector(int failAt) {
            this.failAt = failAt;
        }

        @Override
        public void onDownloadProgress(long current, long maximum) {
            progress.add(new long[] {current, maximum});
            if (progress.size() == failAt) {
                throw new IllegalStateException("progress bar broke");
            }
        }
    }

    private static byte[] dump(DeviceConnector connector, String product) throws NativeException {
        try {
            return connector.dumpDeviceMemory(Downloads.PORT, Downloads.VENDOR, product);
        } finally {
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        }
    }

    @Test
    void theMemoryImageArrivesByteForByteWithProgressInBytes() throws NativeException {
        Downloads.attach(TWO_RAW_DIVES);
        ProgressConnector connector = new ProgressConnector(0);

        byte[] image = dump(connector, Downloads.PRODUCT);

        // The simulated memory holds the dives oldest first.
        assertArrayEquals(new byte[] {0, 1, 2, 3, 4, 5, 6, (byte) 0xFF, (byte) 0xFE, (byte) 0xFD},
                          image);
        assertEquals(1 + 2 * 3, connector.progress.size());
        assertArrayEquals(new long[] {0, 10}, connector.progress.get(0));
        assertArrayEquals(new long[] {10, 10}, connector.progress.get(6));
        assertEquals(1, DcSim.calls("dc_device_dump"));
    }

    @Test
    void aComputerWithoutDivesDumpsNothing() throws NativeException {
        Downloads.attach("events devinfo\n");
        assertArrayEquals(new byte[0], dump(new DeviceConnector(), Downloads.PRODUCT));
    }

    @Test
    void aFamilyWithoutMemoryDumpSaysSo() {
        DcSim.descriptorsAdd(Downloads.VENDOR, PETREL_PRODUCT, SHEARWATER_PETREL, 0, 1);
        Downloads.attach(TWO_RAW_DIVES);
        NativeException failure = assertThrows(
            NativeException.class, () -> dump(new DeviceConnector(), PETREL_PRODUCT));
        assertEquals("[-1]: This dive computer cannot dump its memory.", failure.getMessage());
    }

    @Test
    void failuresMidDumpReleaseEverything() {
        Downloads.attach(TRANSFER + "fail-after 1 IO\n" + DIVES);
        ProgressConnector connector = new ProgressConnector(0);
        NativeException failure =
            assertThrows(NativeException.class, () -> dump(connector, Downloads.PRODUCT));
        assertEquals("[-6]: Error dumping the memory.", failure.getMessage());
        // The first dive's chunks went through before the failure.
        assertEquals(1 + 3, connector.progress.size());

        DcSim.reset();
        Downloads.attach(TWO_RAW_DIVES);
        DcSim.fault("dc_device_dump", 1, DcSim.Status.TIMEOUT);
        failure = assertThrows(NativeException.class,
                               () -> dump(new DeviceConnector(), Downloads.PRODUCT));
        assertEquals("[-7]: Error dumping the memory.", failure.getMessage());
    }

    @Test
    void aThrowingEventHandlerCancelsTheDump() {
        Downloads.attach(TWO_RAW_DIVES);
        ProgressConnector connector = new ProgressConnector(3);
        NativeException failure =
            assertThrows(NativeException.class, () -> dump(connector, Downloads.PRODUCT));
        assertEquals("[-]: The application's event handler failed.", failure.getMessage());
        assertEquals(3, connector.progress.size());
    }

    @Test
    void nullArgumentsAreRefused() {
        NativeException failure = assertThrows(
            NativeException.class,
            () -> new DeviceConnector().dumpDeviceMemory(Downloads.PORT, null, "x"));
        assertEquals("Device name, vendor and product must not be null.", failure.getMessage());
    }
}
