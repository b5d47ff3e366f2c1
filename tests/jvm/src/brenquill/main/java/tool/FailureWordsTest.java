package brenquill.main.java.tool;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.testing.DcSim;
import diveconnector.testing.TestEnvironment;
import java.util.List;
import java.util.Optional;
import org.junit.jupiter.api.Test;

/**
 * The words of the library's failures that no dive computer of the test builds can bring about:
 * permissions, BLE's own failures, USB and Bluetooth ports, and statuses the tool passes on as
 * the library gave them; and a product that several vendors make, which no model of dcsim's own
 * table is.
 */
class FailureWordsTest {
    private static final String OPENING = "Error opening device.";
    private static final String READING = "Error downloading the dives.";
    private static final String POINTER = "(Details: --log FILE.)";
    private static final String SEE_SCAN = "See 'diveconnector scan' for the ports.";
    // Models by their transports: libdivecomputer's bits.
    private static final Models.Model SERIAL = new Models.Model("Suunto", "Vyper", 0x01);
    private static final Models.Model USB_HID = new Models.Model("Suunto", "EON Steel", 0x04);
    private static final Models.Model USB = new Models.Model("Atomic", "Cobalt", 0x02);
    private static final Models.Model BLUETOOTH = new Models.Model("Heinrichs", "Frog", 0x11);
    private static final Models.Model BLE = new Models.Model("Shearwater", "Perdix 2", 0x20);
    private static final String ADDRESS = "00:11:22:33:44:55";

    /** A failure of the library and what the tool says about it. */
    private record Case(String message, String port, Models.Model model, boolean pinAsked,
        String first, String second) {}

    private static final List<Case> CASES = List.of(
        // No status: the model the library does not know, or the library's own words.
        new Case("[-]: No matching device found.", "/dev/ttyUSB0", SERIAL, false,
            "No model Suunto Vyper.", "See 'diveconnector list'."),
        new Case("[-]: Something else.", "/dev/ttyUSB0", SERIAL, false, "[-]: Something else.", ""),
        new Case(
            "not the library's form", "/dev/ttyUSB0", SERIAL, false, "not the library's form", ""),
        // A port of no transport the model has, named by no prefix.
        new Case("[-1]: " + OPENING, "/dev/ttyUSB0", BLE, false,
            "Shearwater Perdix 2 has no such connection.",
            "It connects by BLE: give a port of that kind."),
        new Case(
            "[-1]: " + OPENING, "", USB, false, "This build cannot reach a computer by USB.", ""),
        new Case("[-1]: " + READING, "/dev/ttyUSB0", SERIAL, false, "[-1]: " + READING, ""),
        new Case("[-2]: " + OPENING, "/dev/tty USB0", SERIAL, false,
            "'/dev/tty USB0' is no serial port name.", SEE_SCAN),
        new Case("[-2]: " + READING, "/dev/ttyUSB0", SERIAL, false, "[-2]: " + READING, ""),
        new Case("[-3]: " + READING, "/dev/ttyUSB0", SERIAL, false, "Out of memory.", ""),
        new Case("[-5]: " + OPENING, "/dev/ttyUSB0", SERIAL, false,
            "/dev/ttyUSB0 cannot be opened: no permission, or a program has it.",
            "Join the dialout group (sudo usermod -aG dialout $USER, log in again)."),
        new Case("[-5]: " + OPENING, "", USB_HID, false,
            "The USB HID device cannot be opened: no permission, or it is in use.",
            "Give your group access with a udev rule (see the README)."),
        new Case("[-6]: " + OPENING, ADDRESS, BLUETOOTH, false,
            "The Bluetooth connection to " + ADDRESS + " failed.",
            "Wake the computer, put it in its Bluetooth mode, try again."),
        new Case("[-7]: " + READING, "", USB_HID, false,
            "Suunto EON Steel did not answer on the first USB HID computer found.",
            "Is it in its download mode, and is the model right?"),
        new Case("[-9]: " + READING, "/dev/ttyUSB0", SERIAL, false,
            "The data from Suunto Vyper could not be read.",
            "Please report it, with a support log."),
        new Case("[-11]: " + OPENING, "/dev/ttyUSB0", SERIAL, false, "[-11]: " + OPENING, ""),
        // BLE, by its prefix and by a bare address.
        new Case("[-4]: " + OPENING, "ble:" + ADDRESS, BLE, false,
            "The computer was not found within 10 s, or no adapter is on.",
            "Wake it into its Bluetooth mode; bluetoothctl power on."),
        new Case("[-6]: " + OPENING, ADDRESS, BLE, false,
            "The computer refused the connection or went away.", "Wake it and try again."),
        new Case("[-7]: " + OPENING, "ble:" + ADDRESS, BLE, false,
            "The computer's services did not show within 15 s.",
            "Try again; restarting bluetoothd may help."),
        new Case("[-5]: " + OPENING, "ble:" + ADDRESS, BLE, false,
            "The computer refused access over BLE.",
            "If it asks to be paired, pair it once with bluetoothctl (see the README), then try "
                + "again."),
        new Case("[-6]: " + READING, "ble:" + ADDRESS, BLE, false,
            "The computer went away over BLE.", "Keep it awake and close, and try again."),
        new Case("[-7]: " + READING, "ble:" + ADDRESS, BLE, false,
            "Shearwater Perdix 2 did not answer on ble:" + ADDRESS + ".",
            "Is it in its download mode, and is the model right?"),
        // After a PIN was typed, the computer's refusals of it, whatever status BlueZ gave.
        new Case("[-5]: " + OPENING, "ble:" + ADDRESS, BLE, true, "The computer refused the PIN.",
            "Run it again and type the PIN it shows then."),
        new Case("[-2]: " + OPENING, "ble:" + ADDRESS, BLE, true, "The computer refused the PIN.",
            "Run it again and type the PIN it shows then."),
        new Case("[-8]: " + OPENING, "ble:" + ADDRESS, BLE, true, "The computer refused the PIN.",
            "Run it again and type the PIN it shows then."));

    /** Over BLE on Windows, where the library goes through Windows' own Bluetooth. */
    private static final List<Case> WINDOWS_CASES = List.of(
        new Case("[-4]: " + OPENING, "ble:" + ADDRESS, BLE, false,
            "No BLE device paired with Windows has this address.",
            "Pair the computer in Windows' Bluetooth settings first, then try again."),
        new Case("[-1]: " + OPENING, ADDRESS, BLE, false,
            "BLE cannot be used: Windows has no Bluetooth LE here, or the computer has no data "
                + "service.",
            "BLE needs Windows 8 or later."),
        new Case("[-7]: " + OPENING, "ble:" + ADDRESS, BLE, false,
            "The computer is paired but did not answer.",
            "Wake it into its Bluetooth mode, keep it close, try again."),
        new Case("[-6]: " + OPENING, "ble:" + ADDRESS, BLE, false,
            "The computer refused the connection or went away.", "Wake it and try again."),
        new Case("[-6]: " + READING, "ble:" + ADDRESS, BLE, false,
            "The computer went away over BLE.", "Keep it awake and close, and try again."),
        new Case("[-5]: " + OPENING, "ble:" + ADDRESS, BLE, true, "The computer refused the PIN.",
            "Run it again and type the PIN it shows then."));

    private static String[] words(Case failure, String... options) throws Exception {
        return words(failure, false, options);
    }

    private static String[] words(Case failure, boolean windows, String... options)
        throws Exception {
        String[] args = new String[options.length + 1];
        args[0] = "download";
        System.arraycopy(options, 0, args, 1, options.length);
        Arguments arguments = Arguments.parse(args, List.of(new DownloadCommand()));
        CommandFailure words = FailureWords.of(new NativeException(failure.message()),
            Optional.of(new ComputerOptions.Computer(failure.port(), failure.model())), arguments,
            Optional.empty(), failure.pinAsked(), windows);
        return words.getMessage().split("\n", -1);
    }

    @Test
    void eachFailureSaysWhatHappenedAndWhatToDo() throws Exception {
        for (Case failure : CASES) {
            String[] lines = words(failure);
            String second = failure.second().isEmpty() ? POINTER : failure.second() + " " + POINTER;
            assertEquals(List.of(failure.first(), second), List.of(lines), failure::toString);
        }
    }

    @Test
    void overBleOnWindowsTheWordsAreWindowsOwn() throws Exception {
        for (Case failure : WINDOWS_CASES) {
            String[] lines = words(failure, true);
            String second = failure.second().isEmpty() ? POINTER : failure.second() + " " + POINTER;
            assertEquals(List.of(failure.first(), second), List.of(lines), failure::toString);
        }
    }

    @Test
    void verboseKeepsTheLibrarysMessage() throws Exception {
        Case failure = CASES.get(CASES.size() - 1);
        assertEquals("The computer refused the PIN. (" + failure.message() + ")",
            words(failure, "--verbose")[0]);
    }

    @Test
    void aProductOfSeveralVendorsNamesThemAll() throws Exception {
        DcSim.descriptorsLoadTsv(TestEnvironment.descriptorTable("0.9.0").toString());
        try {
            Models models = Models.fromLibrary();
            String several = "Several vendors make 'f10': did you mean Aeris F10 or Oceanic F10?";
            assertEquals(several,
                assertThrows(CommandFailure.class, () -> models.find(Optional.empty(), "f10"))
                    .getMessage());
            assertEquals(several,
                assertThrows(CommandFailure.class, () -> models.named("f10")).getMessage());
            assertEquals("Oceanic F10", models.named("oceanic f10").name(),
                "vendor and product name one model");
        } finally {
            DcSim.reset();
        }
    }
}
