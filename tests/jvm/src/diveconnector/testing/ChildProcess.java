package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/** A finished child process with its exit code and output. */
public final class ChildProcess {
    private static final long TIMEOUT_SECONDS = 120;
    // What -Xcheck:jni prints for a misused JNI call or too many local references.
    private static final List<String> JNI_WARNINGS =
        List.of("WARNING in native method", "WARNING: JNI local refs", "FATAL ERROR in native method");

    private final List<String> command;
    private final int exitCode;
    private final String stdout;
    private final String stderr;

    private ChildProcess(List<String> command, int exitCode, String stdout, String stderr) {
        this.command = command;
        this.exitCode = exitCode;
        this.stdout = stdout;
        this.stderr = stderr;
    }

    /** Runs the command to its end, with extra environment variables. */
    public static ChildProcess run(List<String> command, Map<String, String> environment)
        throws IOException, InterruptedException {
        return start(command, environment).finish();
    }

    /** Starts the command, for a test that watches its output or signals it while it runs. */
    public static Running start(List<String> command, Map<String, String> environment)
        throws IOException {
        Path out = Files.createTempFile("diveconnector-child", ".out");
        Path err = Files.createTempFile("diveconnector-child", ".err");
        try {
            ProcessBuilder builder = new ProcessBuilder(command);
            builder.environment().putAll(environment);
            builder.redirectOutput(out.toFile());
            builder.redirectError(err.toFile());
            Process process = builder.start();
            process.getOutputStream().close();
            return new Running(command, process, out, err);
        } catch (IOException | RuntimeException e) {
            Files.deleteIfExists(out);
            Files.deleteIfExists(err);
            throw e;
        }
    }

    /** A child that is still running. Its output goes to files, so it never blocks on a pipe. */
    public static final class Running {
        private static final long POLL_MILLIS = 20;

        private final List<String> command;
        private final Process process;
        private final Path out;
        private final Path err;

        private Running(List<String> command, Process process, Path out, Path err) {
            this.command = command;
            this.process = process;
            this.out = out;
            this.err = err;
        }

        public long pid() {
            return process.pid();
        }

        /** Waits until the child's standard output holds the text; fails if it ends first. */
        public void awaitOutput(String text) throws IOException, InterruptedException {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(TIMEOUT_SECONDS);
            while (!Files.readString(out).contains(text)) {
                if (!process.isAlive()) {
                    fail("child ended before printing \"" + text + "\"\n" + finish());
                }
                if (System.nanoTime() > deadline) {
                    process.destroyForcibly().waitFor();
                    fail("child did not print \"" + text + "\" within " + TIMEOUT_SECONDS
                         + " s\n" + finish());
                }
                Thread.sleep(POLL_MILLIS);
            }
        }

        /** Sends SIGINT, as Ctrl-C in a terminal does. */
        public void interrupt() throws IOException, InterruptedException {
            Process kill = new ProcessBuilder("kill", "-INT", String.valueOf(pid())).start();
            assertEquals(0, kill.waitFor(), "kill -INT " + pid());
        }

        /**
         * Sends Ctrl-C once the child printed {@code running}, waits until it prints
         * {@code ended}, then sends the second Ctrl-C that ends its JVM.
         */
        public void interruptWhile(String running, String ended)
            throws IOException, InterruptedException {
            awaitOutput(running);
            // Well into the transfer, not at its first packet.
            Thread.sleep(300);
            interrupt();
            awaitOutput(ended);
            interrupt();
        }

        /** Sends SIGTERM, as a system shutting down does. */
        public void terminate() {
            process.destroy();
        }

        /** Waits for the child to end (killing it after the timeout) and collects its output. */
        public ChildProcess finish() throws IOException, InterruptedException {
            try {
                if (!process.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS)) {
                    process.destroyForcibly().waitFor();
                    fail("child process did not end within " + TIMEOUT_SECONDS + " s: " + command
                         + "\n--- stdout ---\n" + Files.readString(out) + "--- stderr ---\n"
                         + Files.readString(err));
                }
                return new ChildProcess(command, process.exitValue(), Files.readString(out),
                                        Files.readString(err));
            } finally {
                Files.deleteIfExists(out);
                Files.deleteIfExists(err);
            }
        }
    }

    public int exitCode() {
        return exitCode;
    }

    public String stdout() {
        return stdout;
    }

    public String stderr() {
        return stderr;
    }

    /** Fails unless the child exited with this code and printed no JNI warning. */
    public ChildProcess assertClean(int expectedExitCode) {
        for (String warning : JNI_WARNINGS) {
            if (stdout.contains(warning) || stderr.contains(warning)) {
                fail("child JVM reported \"" + warning + "\"\n" + this);
            }
        }
        assertEquals(expectedExitCode, exitCode, () -> "exit code of the child\n" + this);
        return this;
    }

    @Override
    public String toString() {
        return "command: " + String.join(" ", command) + "\nexit code: " + exitCode
            + "\n--- stdout ---\n" + stdout + "--- stderr ---\n" + stderr;
    }
}
