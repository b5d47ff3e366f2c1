package brenquill.main.java.tool;

import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.regex.Pattern;

/** libdivecomputer's transports, by the names dctool gives them, in the order of their bits. */
enum Transport {
    SERIAL("serial", "serial", 0x01),
    USB("usb", "USB", 0x02),
    USBHID("usbhid", "USB HID", 0x04),
    IRDA("irda", "IrDA", 0x08),
    BLUETOOTH("bluetooth", "Bluetooth", 0x10),
    BLE("ble", "BLE", 0x20);

    private static final Pattern BLUETOOTH_ADDRESS =
        Pattern.compile("\\p{XDigit}{2}(:\\p{XDigit}{2}){5}");

    private final String label;
    private final String title;
    private final long bit;

    Transport(String label, String title, long bit) {
        this.label = label;
        this.title = title;
        this.bit = bit;
    }

    String label() {
        return label;
    }

    /** The name a diver reads in a sentence: "USB HID". */
    String title() {
        return title;
    }

    /**
     * The transport the library opens for a port name and a model's transports, as it chooses:
     * the prefix's ("ble:"), else Bluetooth or BLE for a Bluetooth address, else the first of
     * serial, USB HID, USB and IrDA. Empty when the model has none that fits.
     */
    static Optional<Transport> chosen(String port, long transports) {
        Optional<Transport> prefixed = prefixed(port);
        if (prefixed.isPresent()) {
            return prefixed.filter(transport -> transport.in(transports));
        }
        List<Transport> order = new ArrayList<>();
        if (BLUETOOTH_ADDRESS.matcher(port).matches()) {
            order.addAll(List.of(BLUETOOTH, BLE));
        }
        order.addAll(List.of(SERIAL, USBHID, USB, IRDA));
        return order.stream().filter(transport -> transport.in(transports)).findFirst();
    }

    /** The transport a port's prefix names, such as "ble:". */
    static Optional<Transport> prefixed(String port) {
        for (Transport transport : values()) {
            if (port.startsWith(transport.label + ":")) {
                return Optional.of(transport);
            }
        }
        return Optional.empty();
    }

    boolean in(long transports) {
        return (transports & bit) != 0;
    }

    static Optional<Transport> named(String name) {
        for (Transport transport : values()) {
            if (transport.label.equalsIgnoreCase(name)) {
                return Optional.of(transport);
            }
        }
        return Optional.empty();
    }

    /** Every name, for messages: "serial, usb, ... or ble". */
    static String names() {
        List<String> names = new ArrayList<>();
        for (Transport transport : values()) {
            names.add(transport.label);
        }
        return String.join(", ", names.subList(0, names.size() - 1)) + " or "
            + names.get(names.size() - 1);
    }

    /** A bitmask as "serial or Bluetooth", for a sentence. */
    static String titles(long transports) {
        List<String> titles = new ArrayList<>();
        for (Transport transport : values()) {
            if (transport.in(transports)) {
                titles.add(transport.title);
            }
        }
        return titles.isEmpty() ? "none"
            : titles.size() == 1
            ? titles.get(0)
            : String.join(", ", titles.subList(0, titles.size() - 1)) + " or "
                  + titles.get(titles.size() - 1);
    }

    /** A bitmask as "serial bluetooth"; bits of no transport known here are left out. */
    static String labels(long transports) {
        List<String> labels = new ArrayList<>();
        for (Transport transport : values()) {
            if (transport.in(transports)) {
                labels.add(transport.label);
            }
        }
        return String.join(" ", labels);
    }
}
