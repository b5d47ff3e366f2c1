package brenquill.main.java.core;

/**
 * A breathing gas as whole percentages of oxygen and helium; nitrogen makes up the rest.
 *
 * <p>0/0 stands for a dive whose computer reported no mix.
 */
public final class Gas {
    private static final int AIR_OXYGEN = 21;
    // Both percentages are rounded from fractions of a full mix, so they may add up to 101.
    private static final int ROUNDING_SLACK = 1;

    private final int oxygen;
    private final int helium;

    private Gas(int oxygen, int helium) {
        this.oxygen = oxygen;
        this.helium = helium;
    }

    public static Gas blendGas(int oxygen, int helium) {
        checkPercentage("oxygen", oxygen);
        checkPercentage("helium", helium);
        if (oxygen + helium > 100 + ROUNDING_SLACK) {
            throw new IllegalArgumentException(
                "oxygen " + oxygen + "% and helium " + helium + "% exceed the whole mix");
        }
        return new Gas(oxygen, helium);
    }

    private static void checkPercentage(String name, int percentage) {
        if (percentage < 0 || percentage > 100) {
            throw new IllegalArgumentException(name + " " + percentage + "% is not a percentage");
        }
    }

    public int getOxygen() {
        return oxygen;
    }

    public int getHelium() {
        return helium;
    }

    public int getNitrogen() {
        return isKnown() ? Math.max(0, 100 - oxygen - helium) : 0;
    }

    public boolean isKnown() {
        return oxygen != 0 || helium != 0;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof Gas)) {
            return false;
        }
        Gas gas = (Gas) other;
        return oxygen == gas.oxygen && helium == gas.helium;
    }

    @Override
    public int hashCode() {
        return 101 * oxygen + helium;
    }

    @Override
    public String toString() {
        if (!isKnown()) {
            return "Unknown";
        }
        if (helium > 0) {
            return "Tx " + oxygen + "/" + helium;
        }
        if (oxygen == AIR_OXYGEN) {
            return "Air";
        }
        if (oxygen == 100) {
            return "Oxygen";
        }
        return "EAN" + oxygen;
    }
}
