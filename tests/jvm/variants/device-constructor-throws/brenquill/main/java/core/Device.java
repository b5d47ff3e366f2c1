package brenquill.main.java.core;

/** A Device that refuses to be created. */
public final class Device implements Comparable<Device> {
    public Device(String vendor, String product, String serial) {
        throw new IllegalArgumentException("refusing " + vendor + " " + product);
    }

    @Override
    public int compareTo(Device other) {
        return 0;
    }
}
