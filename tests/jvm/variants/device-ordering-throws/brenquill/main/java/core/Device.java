package brenquill.main.java.core;

/**
 * A Device that cannot be ordered against another one, so TreeSet.add throws for the second
 * model. (TreeSet compares the first element with itself, which is allowed.)
 */
public final class Device implements Comparable<Device> {
    public Device(String vendor, String product, String serial) {}

    @Override
    public int compareTo(Device other) {
        if (other != this) {
            throw new IllegalStateException("no ordering");
        }
        return 0;
    }
}
