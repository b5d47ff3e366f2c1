package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * scanForDevices over dcsim's serial ports and USB devices. Bluetooth is left out (0 s): these
 * tests run on the machine's own bus; the BLE tests scan a mock BlueZ on a private one.
 */
class DeviceScanTest {
    static final long SERIAL = 0x01;
    static final long USB = 0x02;
    static final long USBHID = 0x04;

    /** What one onDeviceFound call reported. */
    record Find(String port, String name, int signalStrength, long transport,
                List<Device> models) {}

    /** A connector that keeps every find. */
    static class Finds extends DeviceConnector {
        final List<Find> finds = new ArrayList<>();

        @Override
        public void onDeviceFound(
            String port, String name, int signalStrength, long transport, Device[] models) {
            finds.add(new Find(port, name, signalStrength, transport, List.of(models)));
        }

        Find named(String name) {
            return finds.stream()
                .filter(find -> find.name().equals(name))
                .findFirst()
                .orElseThrow(() -> new AssertionError("no find named " + name + " in " + finds));
        }

        Find onPort(String port) {
            return finds.stream()
                .filter(find -> find.port().equals(port))
                .findFirst()
                .orElseThrow(() -> new AssertionError("nothing on " + port + " in " + finds));
        }
    }

    @TempDir Path temporary;

    /** The real table of the release under test, where every model has its real family. */
    static void useReleaseTable() {
        DcSim.reset();
        DcSim.descriptorsLoadTsv(
            TestEnvironment.descriptorTable(TestEnvironment.libdivecomputerRelease()).toString());
    }

    static void assertNoLeaks() {
        DcSim.reset();
        assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
    }

    @BeforeEach
    void realTable() {
        useReleaseTable();
    }

    @AfterEach
    void noLeaks() {
        assertNoLeaks();
    }

    @Test
    void reportsSerialPortsAndAttachedComputersWithTheirModels() throws Exception {
        // From a file: its UTF-8 reaches dcsim unchanged, as a port name from the system would.
        Path scenario = temporary.resolve("port.txt");
        Files.writeString(scenario, "serial \"sim:🤿 é\"\n", StandardCharsets.UTF_8);
        DcSim.attachFile(scenario.toString());
        DcSim.attach("usbhid 0x1493 0x0030\n");
        DcSim.attach("usb 0x0471 0x0888\n");
        Finds connector = new Finds();

        assertEquals(SERIAL | USB | USBHID, connector.scanForDevices(0));

        Find port = connector.onPort("sim:🤿 é");
        assertEquals(SERIAL, port.transport());
        assertEquals(List.of(), port.models());
        assertEquals("", port.name());
        assertEquals(0, port.signalStrength());
        connector.onPort("dcsim:builtin");

        Find steel = connector.named("1493:0030");
        assertEquals("usbhid:", steel.port());
        assertEquals(USBHID, steel.transport());
        // Each model as getSupportedDevices lists it, so the two compare equal.
        assertEquals(new Device("Suunto", "EON Steel", "EON Steel"), steel.models().get(0));
        assertTrue(connector.getSupportedDevices().containsAll(steel.models()));

        Find cobalt = connector.named("0471:0888");
        assertEquals("usb:", cobalt.port());
        assertEquals(new Device("Atomic Aquatics", "Cobalt", "Cobalt"), cobalt.models().get(0));
    }

    @Test
    void aTransportWhoseSearchFailsIsLeftOut() throws Exception {
        DcSim.attach("usb 0x0471 0x0888\n");
        DcSim.fault("dc_usbhid_iterator_new", 1, DcSim.Status.IO);
        Finds connector = new Finds();

        assertEquals(SERIAL | USB, connector.scanForDevices(0));
        connector.named("0471:0888");
    }

    @Test
    void failuresThrowAndLeaveNothingBehind() {
        Finds connector = new Finds();
        for (int seconds : new int[] {-1, 601, Integer.MIN_VALUE}) {
            NativeException e =
                assertThrows(NativeException.class, () -> connector.scanForDevices(seconds));
            assertEquals("The scan time must be 0 to 600 seconds.", e.getMessage());
        }

        DcSim.fault("dc_context_new", 1, DcSim.Status.NOMEMORY);
        NativeException noContext =
            assertThrows(NativeException.class, () -> connector.scanForDevices(0));
        assertEquals("[-3]: Could not create the context.", noContext.getMessage());

        DcSim.attach("usbhid 0x1493 0x0030\n");
        DeviceConnector throwing = new DeviceConnector() {
            @Override
            public void onDeviceFound(
                String port, String name, int signalStrength, long transport, Device[] models) {
                throw new IllegalStateException("the application's handler fails");
            }
        };
        NativeException handler =
            assertThrows(NativeException.class, () -> throwing.scanForDevices(0));
        assertEquals("Could not report device.", handler.getMessage());
        assertTrue(connector.finds.isEmpty());
    }
}
