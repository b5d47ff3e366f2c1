package brenquill.main.java.core;

/** A Gas whose third blend fails, as for a mix the application refuses. */
public final class Gas {
    private static final int FAILING_BLEND = 3;
    private static int blends;

    private Gas() {}

    public static Gas blendGas(int oxygen, int helium) {
        if (++blends == FAILING_BLEND) {
            throw new IllegalArgumentException("refusing " + oxygen + "/" + helium);
        }
        return new Gas();
    }
}
