package diveconnector.sweep;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Ctrl-C during a download, in child JVMs ({@link CancelledDownload}): SIGINT cancels the
 * transfer with DC_STATUS_CANCELLED, the JVM lives on, downloads again and exits normally. The
 * count comes from -Dstress.cancellations; two children run at a time.
 */
class CtrlCStressTest {
    private static final int PARALLEL = 2;
    private static final long TIMEOUT_SECONDS = 60;
    private static final String CANCELLED = String.join(
        "\t", "slow", "brenquill.main.java.core.exceptions.NativeException",
        "[-10]: Error downloading the dives.", "0", "0");
    private static final String QUICK = String.join(
        "\t", "quick", "none", "none", String.valueOf(CancelledDownload.QUICK_DIVES), "0");

    @Test
    void ctrlCCancelsTheDownloadAndTheJvmCarriesOn() throws Exception {
        int children = Stress.count("cancellations", 10);
        System.out.println("Ctrl-C cancellations: " + children + " child JVMs, " + PARALLEL
                           + " at a time");
        ExecutorService pool = Executors.newFixedThreadPool(PARALLEL, Stress::daemon);
        List<Future<String>> outcomes = new ArrayList<>();
        try {
            for (int child = 1; child <= children; child++) {
                outcomes.add(pool.submit(CtrlCStressTest::cancelOneDownload));
            }
            List<String> problems = new ArrayList<>();
            for (int child = 0; child < children; child++) {
                String problem = outcomes.get(child).get();
                if (problem != null) {
                    problems.add("child " + (child + 1) + ": " + problem);
                }
            }
            assertTrue(problems.isEmpty(), () -> String.join("\n", problems));
        } finally {
            pool.shutdownNow();
        }
    }

    /** Runs one child to its end; null when all went as it must, else what went wrong. */
    private static String cancelOneDownload() throws IOException, InterruptedException {
        Path out = Files.createTempFile("ctrl-c", ".out");
        Path err = Files.createTempFile("ctrl-c", ".err");
        ProcessBuilder builder = new ProcessBuilder(ChildJvm.command(CancelledDownload.class));
        builder.redirectOutput(out.toFile());
        builder.redirectError(err.toFile());
        Process child = builder.start();
        try {
            child.getOutputStream().close();
            // A progress line shows the download running with its SIGINT handler installed. It
            // comes late: the library's progress lines reach a pipe only with its next flushed
            // line, after the first dive.
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(TIMEOUT_SECONDS);
            while (!Files.readString(out).contains("Event: progress")) {
                if (!child.isAlive() || System.nanoTime() > deadline) {
                    return "no download in progress to cancel\n" + output(out, err);
                }
                Thread.sleep(5);
            }
            Process kill =
                new ProcessBuilder("kill", "-INT", String.valueOf(child.pid())).inheritIO().start();
            if (kill.waitFor() != 0) {
                return "kill -INT " + child.pid() + " failed";
            }
            if (!child.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS)) {
                return "still running " + TIMEOUT_SECONDS + " s after Ctrl-C\n" + output(out, err);
            }
            String stdout = Files.readString(out);
            String stderr = Files.readString(err);
            String warning = ChildJvm.jniWarning(stdout + stderr);
            List<String> lines = List.of(stdout.split("\n"));
            if (warning != null || child.exitValue() != 0 || !lines.contains(CANCELLED)
                || !lines.contains(QUICK)) {
                return "exit code " + child.exitValue() + ", expected 0 and the lines\n"
                    + CANCELLED + "\n" + QUICK + "\n" + output(out, err);
            }
            return null;
        } finally {
            child.destroyForcibly().waitFor();
            Files.deleteIfExists(out);
            Files.deleteIfExists(err);
        }
    }

    private static String output(Path out, Path err) throws IOException {
        return "--- stdout ---\n" + Files.readString(out) + "--- stderr ---\n"
            + Files.readString(err);
    }
}
