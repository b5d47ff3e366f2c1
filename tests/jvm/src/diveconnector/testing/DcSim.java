package diveconnector.testing;

import java.util.StringJoiner;

/**
 * The dcsim controls, for tests in a JVM. The control library is loaded from the path in the
 * system property {@code dcsimcontrol.library}; it shares libdcsim with the library under test.
 */
public final class DcSim {
    /** Kinds of libdivecomputer handles dcsim counts, in the order of dcsim_handle_t. */
    public enum Handle {
        CONTEXT,
        ITERATOR,
        DESCRIPTOR,
        DEVICE,
        IOSTREAM,
        PARSER,
        BUFFER,
        ITERATOR_ITEM
    }

    /** The libdivecomputer dc_status_t values. */
    public enum Status {
        SUCCESS(0),
        DONE(1),
        UNSUPPORTED(-1),
        INVALIDARGS(-2),
        NOMEMORY(-3),
        NODEVICE(-4),
        NOACCESS(-5),
        IO(-6),
        TIMEOUT(-7),
        PROTOCOL(-8),
        DATAFORMAT(-9),
        CANCELLED(-10);

        private final int value;

        Status(int value) {
            this.value = value;
        }

        public int value() {
            return value;
        }
    }

    static {
        System.load(TestEnvironment.path("dcsimcontrol.library").toString());
    }

    private DcSim() {}

    /** Built-in table, no faults, counters at zero, only the built-in computer attached. */
    public static native void reset();

    public static native void descriptorsBuiltin();

    public static native void descriptorsClear();

    /** Replaces the descriptor table by a fixture TSV and returns its number of rows. */
    public static int descriptorsLoadTsv(String path) {
        int count = loadTsv(path);
        if (count < 0) {
            throw new IllegalArgumentException(path + ": " + lastError());
        }
        return count;
    }

    public static native void descriptorsAdd(String vendor, String product, int family, int model,
                                             int transports);

    /** The nth call (1-based, from now on) of the libdivecomputer function returns status. */
    public static void fault(String function, int nth, Status status) {
        if (nth < 1) {
            throw new IllegalArgumentException("calls count from 1, not " + nth);
        }
        if (armFault(function, nth, status.value()) != 0) {
            throw new IllegalArgumentException("dcsim cannot fail " + function);
        }
    }

    public static native void faultsClear();

    /** Calls of the libdivecomputer function since the last reset. */
    public static native int calls(String function);

    public static int live(Handle kind) {
        return liveOf(kind.ordinal());
    }

    public static native int liveTotal();

    /** The live handles by kind, for assertion messages. */
    public static String liveSummary() {
        StringJoiner summary = new StringJoiner(", ", "live handles: ", "");
        summary.setEmptyValue("no live handles");
        for (Handle kind : Handle.values()) {
            int count = live(kind);
            if (count != 0) {
                summary.add(handleName(kind.ordinal()) + "=" + count);
            }
        }
        return summary.toString();
    }

    /** Attaches a simulated dive computer described by scenario text. */
    public static void attach(String scenario) {
        if (attachText(scenario) != 0) {
            throw new IllegalArgumentException("scenario rejected: " + lastError());
        }
    }

    public static void attachFile(String path) {
        if (attachPath(path) != 0) {
            throw new IllegalArgumentException(path + ": " + lastError());
        }
    }

    public static native void detachAll();

    public static native void setVersion(int major, int minor, int micro);

    /** Reason of this thread's last failing control call. */
    public static native String lastError();

    private static native int loadTsv(String path);

    private static native int armFault(String function, int nth, int status);

    private static native int liveOf(int kind);

    private static native String handleName(int kind);

    private static native int attachText(String scenario);

    private static native int attachPath(String path);
}
