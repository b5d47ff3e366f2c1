package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.util.Optional;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A failure of the library in a diver's words: what happened and what to do, from
 * libdivecomputer's status, the stage it failed in and the transport the library chose. The last
 * line points at the support log; --verbose keeps the library's own message on the first.
 */
final class FailureWords {
    // The library's messages: "[status]: text", status "-" when libdivecomputer gave none.
    private static final Pattern MESSAGE =
        Pattern.compile("\\[(-?\\d+|-)\\]: (.*)", Pattern.DOTALL);
    private static final String OPENING = "Error opening device.";
    private static final String NO_MODEL = "No matching device found.";
    private static final String NO_DUMP = "This dive computer cannot dump its memory.";
    static final String CANCELLED = "Cancelled.";
    private static final String SEE_LIST = "See 'diveconnector list'.";
    private static final String SEE_SCAN = "See 'diveconnector scan' for the ports.";

    // libdivecomputer's dc_status_t.
    private static final int UNSUPPORTED = -1;
    private static final int INVALID_ARGUMENTS = -2;
    private static final int NO_MEMORY = -3;
    private static final int NO_DEVICE = -4;
    private static final int NO_ACCESS = -5;
    private static final int IO = -6;
    private static final int TIMEOUT = -7;
    private static final int PROTOCOL = -8;
    private static final int DATA_FORMAT = -9;
    private static final int STATUS_CANCELLED = -10;

    private FailureWords() {}

    /** What happened, and what the diver can do about it (or null). */
    private record Words(String what, String todo) {}

    // BLE goes through Windows' own Bluetooth there, through BlueZ elsewhere.
    private static final boolean WINDOWS = System.getProperty("os.name", "").startsWith("Windows");

    /** The failure of a download or dump from the computer, or of a scan when there is none. */
    static CommandFailure of(NativeException e, Optional<ComputerOptions.Computer> computer,
                             Arguments arguments, Optional<String> noPin, boolean pinAsked) {
        return of(e, computer, arguments, noPin, pinAsked, WINDOWS);
    }

    /** As on Windows or not, whatever this system is. */
    static CommandFailure of(NativeException e, Optional<ComputerOptions.Computer> computer,
                             Arguments arguments, Optional<String> noPin, boolean pinAsked,
                             boolean windows) {
        String message = String.valueOf(e.getMessage());
        Matcher parts = MESSAGE.matcher(message);
        Integer status = parts.matches() && !parts.group(1).equals("-")
                             ? Integer.valueOf(parts.group(1)) : null;
        String text = parts.matches() ? parts.group(2) : message;
        if (status != null && status == STATUS_CANCELLED) {
            return new CommandFailure(CANCELLED, Main.EXIT_CANCELLED, e);
        }
        Words words = null;
        if (noPin.isPresent()) {
            words = new Words(noPin.get() + ".", null);
        } else if (computer.isPresent()) {
            words = words(status, text, computer.get(), pinAsked, windows);
        }
        String first = words == null ? message
            : arguments.verbose() ? words.what() + " (" + message + ")"
            : words.what();
        String todo = words == null || words.todo() == null ? "" : words.todo() + " ";
        return new CommandFailure(first + "\n" + todo + SupportLog.pointer(arguments),
                                  Main.EXIT_FAILURE, e);
    }

    /** What happened and what to do, or null when the tool knows no better than the library. */
    private static Words words(Integer status, String text, ComputerOptions.Computer computer,
                               boolean pinAsked, boolean windows) {
        Models.Model model = computer.model();
        String name = model.name();
        String port = computer.portName();
        if (status == null) {
            return text.equals(NO_MODEL) ? new Words("No model " + name + ".", SEE_LIST) : null;
        }
        if (text.equals(NO_DUMP)) {
            return new Words(name + " cannot dump its memory.",
                             "libdivecomputer has no memory dump for its model.");
        }
        boolean opening = text.equals(OPENING);
        Optional<Transport> chosen = Transport.chosen(computer.port(), model.transports());
        if (opening && chosen.isEmpty()) {
            return new Words(name + " has no "
                                 + Transport.prefixed(computer.port()).map(Transport::title)
                                       .orElse("such")
                                 + " connection.",
                             "It connects by " + Transport.titles(model.transports())
                                 + ": give a port of that kind.");
        }
        Transport transport = chosen.orElse(Transport.SERIAL);
        if (transport == Transport.BLE) {
            Words ble = ble(status, opening, pinAsked, computer.port(), windows);
            if (ble != null) {
                return ble;
            }
        }
        boolean plugged = transport == Transport.USB || transport == Transport.USBHID;
        switch (status) {
            case UNSUPPORTED:
                return !opening ? null
                    : new Words("This build cannot reach a computer by " + transport.title() + ".",
                                transport == Transport.IRDA
                                    ? "libdivecomputer has IrDA on Windows only."
                                    : null);
            case INVALID_ARGUMENTS:
                return !opening ? null
                    : new Words("'" + computer.port() + "' is no " + transport.title()
                                    + " port name.", SEE_SCAN);
            case NO_MEMORY:
                return new Words("Out of memory.", null);
            case NO_DEVICE:
                if (plugged) {
                    return new Words("No " + name + " is plugged in.",
                                     "Connect it by " + transport.title() + " and switch it on.");
                }
                return new Words(computer.port().isEmpty() ? "No port was given (--port is empty)."
                                                           : "There is no port " + port + ".",
                                 SEE_SCAN);
            case NO_ACCESS:
                if (plugged) {
                    return new Words("The " + transport.title() + " device cannot be opened: no "
                                         + "permission, or it is in use.",
                                     "Give your group access with a udev rule (see the README).");
                }
                return new Words(port + " cannot be opened: no permission, or a program has it.",
                                 "Join the dialout group (sudo usermod -aG dialout $USER, log in "
                                     + "again).");
            case IO:
                if (!opening) {
                    return new Words("The connection to " + name + " broke.",
                                     "Check the cable, or keep the computer close, and try again.");
                }
                return transport == Transport.SERIAL
                    ? new Words(port + " is not a serial port.", "Is it the right port? "
                                                                     + SEE_SCAN)
                    : new Words("The " + transport.title() + " connection to " + port
                                    + " failed.",
                                "Wake the computer, put it in its Bluetooth mode, try again.");
            case TIMEOUT:
                return new Words(name + " did not answer on " + port + ".",
                                 "Is it in its download mode, and is the model right?");
            case PROTOCOL:
                return new Words(name + " did not answer as its model does.",
                                 "Is the model right? " + SEE_LIST);
            case DATA_FORMAT:
                return new Words("The data from " + name + " could not be read.",
                                 "Please report it, with a support log.");
            default:
                return null;
        }
    }

    /** What Windows' failures to open a BLE computer mean, where they differ from BlueZ's. */
    private static Words windowsBle(int status) {
        switch (status) {
            case UNSUPPORTED:
                return new Words("BLE cannot be used: Windows has no Bluetooth LE here, or the "
                                     + "computer has no data service.",
                                 "BLE needs Windows 8 or later.");
            case NO_DEVICE:
                return new Words("No BLE device paired with Windows has this address.",
                                 "Pair the computer in Windows' Bluetooth settings first, then "
                                     + "try again.");
            case TIMEOUT:
                return new Words("The computer is paired but did not answer.",
                                 "Wake it into its Bluetooth mode, keep it close, try again.");
            case NO_ACCESS:
                return new Words("The computer refused access over BLE.",
                                 "Remove it from Windows' Bluetooth settings, pair it again, "
                                     + "then try again.");
            default:
                return null;
        }
    }

    /** What BlueZ's and the computer's failures over BLE mean, where they differ from serial's. */
    private static Words ble(int status, boolean opening, boolean pinAsked, String port,
                             boolean windows) {
        if (opening && pinAsked
            && (status == PROTOCOL || status == NO_ACCESS || status == INVALID_ARGUMENTS)) {
            return new Words("The computer refused the PIN.",
                             "Run it again and type the PIN it shows then.");
        }
        if (!opening) {
            return status == IO ? new Words("The computer went away over BLE.",
                                            "Keep it awake and close, and try again.")
                                : null;
        }
        Words onWindows = windows ? windowsBle(status) : null;
        if (onWindows != null) {
            return onWindows;
        }
        switch (status) {
            case UNSUPPORTED:
                return new Words("BLE cannot be used: no BlueZ, or the computer has no data "
                                     + "service.",
                                 "Is bluetoothd running (sudo systemctl start bluetooth)?");
            case NO_DEVICE:
                return new Words("The computer was not found within 10 s, or no adapter is on.",
                                 "Wake it into its Bluetooth mode; bluetoothctl power on.");
            case NO_ACCESS:
                return new Words("The computer refused access over BLE.",
                                 "If it asks to be paired, pair it once with bluetoothctl (see "
                                     + "the README), then try again.");
            case IO:
                return new Words("The computer refused the connection or went away.",
                                 "Wake it and try again.");
            case TIMEOUT:
                return new Words("The computer's services did not show within 15 s.",
                                 "Try again; restarting bluetoothd may help.");
            case INVALID_ARGUMENTS:
                return new Words("'" + port + "' is not ble: and a Bluetooth address.", SEE_SCAN);
            default:
                return null;
        }
    }
}
