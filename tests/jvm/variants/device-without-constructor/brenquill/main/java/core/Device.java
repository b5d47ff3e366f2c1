package brenquill.main.java.core;

/** A Device that lacks the (vendor, product, serial) constructor the native library binds. */
public final class Device implements Comparable<Device> {
    private final String name;

    public Device(String vendor, String product) {
        this.name = vendor + " " + product;
    }

    @Override
    public int compareTo(Device other) {
        return name.compareTo(other.name);
    }
}
