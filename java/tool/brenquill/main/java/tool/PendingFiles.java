package brenquill.main.java.tool;

import java.io.IOException;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;

/**
 * The output files of one run, committed together once every one is complete:
 *
 * <pre>
 *   try (PendingFiles files = new PendingFiles(err)) {
 *       OutputFile json = files.add(OutputFile.replacing(path));
 *       ... write every file ...
 *       files.commit();
 *   }                                   // discards whatever was not committed
 * </pre>
 *
 * <p>Ctrl-C outside the download ends the JVM through its shutdown hooks; the hook removes the
 * temporary files and says so, leaving every previous file as it was.
 */
final class PendingFiles implements AutoCloseable {
    private final PrintStream err;
    private final List<OutputFile> files = new ArrayList<>();
    private final Thread cancelHook;
    private boolean finished;
    private boolean cancelled;

    PendingFiles(PrintStream err) {
        this.err = err;
        cancelHook = new Thread(this::cancel, "diveconnector-cancel");
        Runtime.getRuntime().addShutdownHook(cancelHook);
    }

    synchronized OutputFile add(OutputFile file) {
        if (cancelled) {
            file.discard();
            awaitExit();
        }
        files.add(file);
        return file;
    }

    /** Puts every file in its place, in the order they were added. */
    synchronized void commit() throws IOException {
        if (cancelled) {
            awaitExit();
        }
        for (OutputFile file : files) {
            try {
                file.commit();
            } catch (IOException e) {
                throw FileErrors.cannotWrite(file.name(), e);
            }
        }
        finished = true;
    }

    private synchronized void cancel() {
        if (!finished) {
            cancelled = true;
            discardAll();
            err.println(Main.NAME + ": Cancelled.");
            err.flush();
        }
    }

    /**
     * Holds the writing thread after Ctrl-C: the JVM is ending, the hook has removed the files, and
     * nothing may be created or renamed any more.
     */
    private void awaitExit() {
        while (true) {
            try {
                wait();
            } catch (InterruptedException e) {
                // Still ending: keep waiting.
            }
        }
    }

    private void discardAll() {
        finished = true;
        for (OutputFile file : files) {
            file.discard();
        }
    }

    @Override
    public void close() {
        synchronized (this) {
            if (!finished) {
                discardAll();
            }
        }
        try {
            Runtime.getRuntime().removeShutdownHook(cancelHook);
        } catch (IllegalStateException e) {
            // The JVM is already shutting down; the hook does the cleaning.
        }
    }
}
