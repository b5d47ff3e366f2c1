package diveconnector.internal;

/**
 * Boxes one profile series for the native library: a Float or Integer for every present value,
 * null for every empty entry. The library defines this class in the JVM itself, so a whole
 * series crosses JNI in a few calls instead of several calls per value.
 */
final class ProfileBoxing {
    private ProfileBoxing() {}

    static Float[] floats(float[] values, boolean[] present) {
        Float[] boxed = new Float[values.length];
        for (int i = 0; i < values.length; i++) {
            if (present[i]) {
                boxed[i] = Float.valueOf(values[i]);
            }
        }
        return boxed;
    }

    static Integer[] integers(int[] values, boolean[] present) {
        Integer[] boxed = new Integer[values.length];
        for (int i = 0; i < values.length; i++) {
            if (present[i]) {
                boxed[i] = Integer.valueOf(values[i]);
            }
        }
        return boxed;
    }
}
