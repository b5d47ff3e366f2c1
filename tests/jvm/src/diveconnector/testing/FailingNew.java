package diveconnector.testing;

/**
 * Fails a chosen C++ allocation of the calling thread. Works only in a JVM started with
 * libfailing_new in LD_PRELOAD; its natives live in the dcsim control library.
 */
public final class FailingNew {
    static {
        System.load(TestEnvironment.path("dcsimcontrol.library").toString());
    }

    private FailingNew() {}

    /** Whether libfailing_new is preloaded into this JVM. */
    public static native boolean available();

    /** The nth operator new of this thread from now on fails (std::bad_alloc). */
    public static native void arm(long nth);

    /** Disarms this thread and tells whether the armed allocation failed meanwhile. */
    public static native boolean disarm();
}
