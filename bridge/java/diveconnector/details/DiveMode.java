package diveconnector.details;

/** How the dive was dived. */
public enum DiveMode {
    FREEDIVE,
    /** Depth and time only, no decompression computed. */
    GAUGE,
    /** Open circuit. */
    OPEN_CIRCUIT,
    /** Closed-circuit rebreather. */
    CLOSED_CIRCUIT,
    /** Semi-closed rebreather. */
    SEMI_CLOSED,
    /** A mode this version of the library does not know. */
    UNKNOWN;

    static DiveMode of(long code) {
        return code >= 0 && code < UNKNOWN.ordinal() ? values()[(int) code] : UNKNOWN;
    }
}
