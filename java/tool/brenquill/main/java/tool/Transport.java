package brenquill.main.java.tool;

import java.util.ArrayList;
import java.util.List;
import java.util.Optional;

/** libdivecomputer's transports, by the names dctool gives them, in the order of their bits. */
enum Transport {
    SERIAL("serial", 0x01),
    USB("usb", 0x02),
    USBHID("usbhid", 0x04),
    IRDA("irda", 0x08),
    BLUETOOTH("bluetooth", 0x10),
    BLE("ble", 0x20);

    private final String label;
    private final long bit;

    Transport(String label, long bit) {
        this.label = label;
        this.bit = bit;
    }

    String label() {
        return label;
    }

    boolean in(long transports) {
        return (transports & bit) != 0;
    }

    static Optional<Transport> named(String name) {
        for (Transport transport : values()) {
            if (transport.label.equals(name)) {
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
