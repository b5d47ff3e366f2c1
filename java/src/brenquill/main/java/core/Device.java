package brenquill.main.java.core;

import java.util.Comparator;
import java.util.Objects;

/**
 * A dive-computer model, or one particular computer when the serial number is known.
 *
 * <p>For a supported model the native library passes the product name as the serial, so two
 * listings of the same model are equal. Ordered by vendor, product, then serial.
 */
public final class Device implements Comparable<Device> {
    private static final Comparator<Device> ORDER = Comparator.comparing(Device::getVendor)
                                                            .thenComparing(Device::getProduct)
                                                            .thenComparing(Device::getSerial);

    private final String vendor;
    private final String product;
    private final String serial;

    public Device(String vendor, String product, String serial) {
        this.vendor = Objects.requireNonNull(vendor, "vendor");
        this.product = Objects.requireNonNull(product, "product");
        this.serial = Objects.requireNonNull(serial, "serial");
    }

    public String getVendor() {
        return vendor;
    }

    public String getProduct() {
        return product;
    }

    public String getSerial() {
        return serial;
    }

    @Override
    public int compareTo(Device other) {
        return ORDER.compare(this, other);
    }

    @Override
    public boolean equals(Object other) {
        if (this == other) {
            return true;
        }
        if (!(other instanceof Device)) {
            return false;
        }
        Device device = (Device) other;
        return vendor.equals(device.vendor) && product.equals(device.product)
            && serial.equals(device.serial);
    }

    @Override
    public int hashCode() {
        return Objects.hash(vendor, product, serial);
    }

    @Override
    public String toString() {
        return vendor + " " + product + " (" + serial + ")";
    }
}
