package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Optional;

/**
 * Lists what a diver can download from: nearby Bluetooth and BLE devices with the models their
 * names match, attached USB and USB HID computers of known models, and the serial ports.
 */
final class ScanCommand implements Command {
    private static final String SECONDS = "--seconds";
    private static final int DEFAULT_SECONDS = 10;
    private static final int LONGEST = 600;
    private static final String[] HEADINGS = {"Port", "Signal", "Name", "Models"};
    private static final boolean[] LEFT = {true, false, true, true};

    @Override
    public String name() {
        return "scan";
    }

    @Override
    public String summary() {
        return "List the dive computers and ports to download from.";
    }

    @Override
    public List<Option> options() {
        List<Option> options = new ArrayList<>();
        options.add(new Option(SECONDS, "N", "Search Bluetooth for N seconds (default "
                                                 + DEFAULT_SECONDS + "; 0 to " + LONGEST
                                                 + ", 0: not at all)."));
        options.addAll(SupportLog.options());
        return options;
    }

    @Override
    public int run(Arguments arguments, PrintStream out, PrintStream err)
        throws UsageException, IOException, CommandFailure {
        int seconds = seconds(arguments.value(SECONDS));
        SupportLog.apply(arguments);
        if (seconds > 0) {
            err.println("Searching Bluetooth for " + seconds + " s...");
        }
        DeviceFinds connector = new DeviceFinds();
        long searched;
        try {
            searched = connector.scanForDevices(seconds);
        } catch (NativeException e) {
            throw FailureWords.of(e, Optional.empty(), arguments, Optional.empty(), false);
        }

        // Dive computers first, in the library's order; ports and devices of no known model after.
        List<DeviceFinds.Find> finds = new ArrayList<>(connector.finds());
        finds.sort(Comparator.comparing(find -> find.models().isEmpty()));
        if (finds.isEmpty()) {
            out.println("Found nothing to download from.");
        } else {
            print(out, finds);
            if (finds.stream().anyMatch(find -> !find.models().isEmpty())) {
                out.println("Download with: " + Main.NAME
                            + " download --port PORT --vendor VENDOR --product PRODUCT");
            }
        }
        if (seconds > 0 && !Transport.BLUETOOTH.in(searched)) {
            err.println("Bluetooth could not be searched: is bluetoothd running and an adapter "
                        + "powered on (bluetoothctl power on)?");
        }
        return Main.EXIT_OK;
    }

    private static int seconds(Optional<String> value) throws UsageException {
        if (value.isEmpty()) {
            return DEFAULT_SECONDS;
        }
        try {
            int seconds = Integer.parseInt(value.get());
            if (seconds >= 0 && seconds <= LONGEST) {
                return seconds;
            }
        } catch (NumberFormatException e) {
            // Said below, as for a number out of range.
        }
        throw new UsageException(SECONDS + " takes a whole number of seconds from 0 to " + LONGEST
                                 + ", not '" + value.get() + "'");
    }

    private static void print(PrintStream out, List<DeviceFinds.Find> finds) {
        List<String[]> rows = new ArrayList<>();
        for (DeviceFinds.Find find : finds) {
            String signal = find.signalStrength() != 0 ? find.signalStrength() + " dBm" : "";
            List<String> models = new ArrayList<>();
            for (Device model : find.models()) {
                models.add(printable(model.getVendor() + " " + model.getProduct()));
            }
            if (models.isEmpty()) {
                models.add(ComputerOptions.simulatedPort(find.port())
                               ? "simulated: " + ComputerOptions.simulatedModel()
                               : Transport.SERIAL.in(find.transport())
                               ? "any model with a serial cable"
                               : "-");
            }
            rows.add(new String[] {printable(find.port()), signal, printable(find.name()),
                                   models.get(0)});
            // Each further model on a line of its own, so that every one reads whole.
            for (String model : models.subList(1, models.size())) {
                rows.add(new String[] {"", "", "", model});
            }
        }
        TextTable.print(out, HEADINGS, LEFT, rows);
    }

    /** Names come from devices nearby: none may move the cursor or recolour the terminal. */
    static String printable(String text) {
        StringBuilder result = new StringBuilder(text.length());
        text.codePoints().forEach(code -> {
            if (Character.isISOControl(code)) {
                result.append('?');
            } else {
                result.appendCodePoint(code);
            }
        });
        return result.toString();
    }
}
