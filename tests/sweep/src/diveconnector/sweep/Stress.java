package diveconnector.sweep;

/** What the stress tests share: the model they download as, their counts, their threads. */
final class Stress {
    /**
     * A model of dcsim's built-in descriptor table, on the serial transport. The stress
     * computers answer to every model, so they are all downloaded as this one.
     */
    static final String VENDOR = "Dcsim";
    static final String PRODUCT = "Reef Explorer";

    private Stress() {}

    /** The count -Dstress.NAME gives, else the reduced count of a routine run. */
    static int count(String name, int reduced) {
        int count = Integer.getInteger("stress." + name, reduced);
        if (count < 1) {
            throw new IllegalArgumentException("stress." + name + " must be at least 1");
        }
        return count;
    }

    /** A daemon thread: one stuck in a hung download must not keep the JVM alive. */
    static Thread daemon(Runnable work) {
        Thread thread = new Thread(work, "stress");
        thread.setDaemon(true);
        return thread;
    }
}
