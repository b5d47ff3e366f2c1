package diveconnector.details;

/** The decompression model the computer dived with. Immutable. */
public final class DecoModel {
    /** The model's family. */
    public enum Type {
        NONE,
        BUHLMANN,
        VPM,
        RGBM,
        DCIEM,
        /** A model this version of the library does not know. */
        UNKNOWN
    }

    private final Type type;
    private final int conservatism;
    private final int gradientFactorLow;
    private final int gradientFactorHigh;

    DecoModel(long type, long conservatism, long gradientFactorLow, long gradientFactorHigh) {
        this.type = type >= 0 && type < Type.UNKNOWN.ordinal() ? Type.values()[(int) type]
                                                                 : Type.UNKNOWN;
        this.conservatism = (int) conservatism;
        this.gradientFactorLow = (int) gradientFactorLow;
        this.gradientFactorHigh = (int) gradientFactorHigh;
    }

    public Type type() {
        return type;
    }

    /** The computer's conservatism setting: 0 is its default, more is more conservative. */
    public int conservatism() {
        return conservatism;
    }

    /** The low gradient factor in percent; meaningful for {@link Type#BUHLMANN} only. */
    public int gradientFactorLow() {
        return gradientFactorLow;
    }

    /** The high gradient factor in percent; meaningful for {@link Type#BUHLMANN} only. */
    public int gradientFactorHigh() {
        return gradientFactorHigh;
    }
}
