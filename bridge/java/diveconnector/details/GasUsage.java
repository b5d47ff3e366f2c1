package diveconnector.details;

/** Whose gas a mix or tank is, as the dive computer says. */
public enum GasUsage {
    /** Breathed in open circuit, or not said. */
    NONE,
    /** The oxygen of a rebreather. */
    OXYGEN,
    /** The diluent of a rebreather. */
    DILUENT,
    /** A sidemount tank. */
    SIDEMOUNT,
    /** A use this version of the library does not know. */
    UNKNOWN;

    static GasUsage of(int code) {
        return code >= 0 && code < UNKNOWN.ordinal() ? values()[code] : UNKNOWN;
    }
}
