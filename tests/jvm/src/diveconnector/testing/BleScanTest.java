package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** scanForDevices and the tool's scan against a mock BlueZ on a private bus. */
class BleScanTest {
    static final long BLUETOOTH = 0x10;
    static final long BLE = 0x20;
    static final String TERIC = "00:11:22:33:44:01";
    static final String OSTC = "00:11:22:33:44:02";
    static final String PHONE = "00:11:22:33:44:03";
    static final String NAMELESS = "00:11:22:33:44:04";
    static final String ASLEEP = "00:11:22:33:44:05";
    static final String DEVICES = "{\"devices\": ["
        + "{\"address\": \"" + TERIC + "\", \"name\": \"Teric\", \"rssi\": -61},"
        + "{\"address\": \"" + OSTC + "\", \"name\": \"OSTC Sport 12345\", \"rssi\": -75,"
        + " \"classic\": true, \"known\": false},"
        + "{\"address\": \"" + PHONE + "\", \"name\": \"Phone \\u001b[2J\", \"rssi\": -50},"
        + "{\"address\": \"" + NAMELESS + "\"},"
        + "{\"address\": \"" + ASLEEP + "\", \"name\": \"Perdix\", \"nearby\": false}]}";

    @TempDir Path temporary;

    @BeforeEach
    void realTable() {
        DeviceScanTest.useReleaseTable();
    }

    @AfterEach
    void noLeaks() {
        DeviceScanTest.assertNoLeaks();
    }

    @Test
    void reportsNearbyDevicesWithTheModelsTheirNamesTell() throws Exception {
        DeviceScanTest.Finds connector = new DeviceScanTest.Finds();
        MockBluez bluez = new MockBluez(DEVICES);
        try {
            long started = System.nanoTime();
            long searched = connector.scanForDevices(2);
            long seconds = (System.nanoTime() - started) / 1_000_000_000L;
            assertTrue(seconds >= 1 && seconds < 10, "took " + seconds + " s");
            assertEquals(BLUETOOTH | BLE, searched & (BLUETOOTH | BLE));
        } finally {
            bluez.close();
        }

        DeviceScanTest.Find teric = connector.onPort("ble:" + TERIC);
        assertEquals("Teric", teric.name());
        assertEquals(-61, teric.signalStrength());
        assertEquals(BLE, teric.transport());
        assertEquals(List.of(new Device("Shearwater", "Teric", "Teric")), teric.models());

        // Seen over classic Bluetooth: the bare address, which opens a model's classic link.
        DeviceScanTest.Find ostc = connector.onPort(OSTC);
        assertEquals(BLUETOOTH, ostc.transport());
        assertEquals(-75, ostc.signalStrength());
        assertEquals(
            List.of(new Device("Heinrichs Weikamp", "OSTC Sport", "OSTC Sport")), ostc.models());

        assertEquals(List.of(), connector.onPort("ble:" + PHONE).models());
        DeviceScanTest.Find nameless = connector.onPort("ble:" + NAMELESS);
        assertEquals("", nameless.name());
        assertEquals(List.of(), nameless.models());
        assertFalse(connector.finds.stream().anyMatch(find -> find.port().endsWith(ASLEEP)));
        // The serial ports are still there.
        connector.onPort("dcsim:builtin");
    }

    @Test
    void withoutBluezTheOtherTransportsAreStillSearched() throws Exception {
        DeviceScanTest.Finds connector = new DeviceScanTest.Finds();
        long started = System.nanoTime();
        long searched = connector.scanForDevices(5);
        assertTrue(System.nanoTime() - started < 4_000_000_000L, "waited for a BlueZ not there");
        assertEquals(0, searched & (BLUETOOTH | BLE));
        assertEquals(DeviceScanTest.SERIAL, searched & DeviceScanTest.SERIAL);
        connector.onPort("dcsim:builtin");
    }

    @Test
    void theToolListsTheComputersAndHowToDownload() throws Exception {
        MockBluez bluez = new MockBluez(DEVICES);
        try {
            ChildProcess child = tool("scan", "--seconds", "1");
            List<String> lines = List.of(child.stdout().split("\n"));
            assertTrue(lines.get(0).matches("Port +Signal +Name +Models"), child::toString);
            // The tool's own table is dcsim's: 0.9's filter takes "Teric" for its Teric Sim.
            String teric = lines.stream()
                               .filter(line -> line.startsWith("ble:" + TERIC))
                               .findFirst()
                               .orElseThrow(() -> new AssertionError(child));
            assertTrue(teric.matches("ble:" + TERIC + " +-61 dBm +Teric +"
                                     + (TestEnvironment.olderApi() ? "-" : "Mockdive Teric Sim")),
                       teric);
            // A name may not steer the terminal.
            assertTrue(child.stdout().contains("Phone ?[2J"), child::toString);
            assertFalse(child.stdout().contains("\u001b"), child::toString);
            // Without libdivecomputer 0.9's filter, "Teric" names none of the tool's models.
            assertEquals(!TestEnvironment.olderApi(),
                         child.stdout().contains(
                             "Download with: diveconnector download --port PORT --vendor VENDOR "
                             + "--product PRODUCT"),
                         child::toString);
        } finally {
            bluez.close();
        }
    }

    @Test
    void aDiverScansThenDownloadsFromTheComputerItFound() throws Exception {
        // A BLE-only model of the tool's table, its simulated computer behind the mock BlueZ.
        Path scenario = temporary.resolve("teric.txt");
        Files.writeString(scenario, "bluetooth " + TERIC + " Teric\n" + BleDownloadTest.DIVES);
        MockBluez bluez = new MockBluez(
            "{\"devices\": [{\"address\": \"" + TERIC + "\", \"name\": \"Teric\", "
            + "\"peripheral\": \"dcsim\", \"scenario\": \"" + scenario + "\"}]}");
        try {
            ChildProcess scan = tool("scan", "--seconds", "1");
            String found = List.of(scan.stdout().split("\n")).stream()
                               .filter(line -> line.startsWith("ble:" + TERIC))
                               .findFirst()
                               .orElseThrow(() -> new AssertionError(scan));
            String port = found.substring(0, found.indexOf(' '));

            ChildProcess download =
                tool("download", "--port", port, "--vendor", "Mockdive", "--product", "Teric Sim");
            assertTrue(download.stdout().contains("3 dives from Mockdive Teric Sim, serial 5150."),
                       download::toString);
        } finally {
            bluez.close();
        }
    }

    private static ChildProcess tool(String... arguments) throws Exception {
        return Tool.run(arguments).assertClean(0);
    }
}
