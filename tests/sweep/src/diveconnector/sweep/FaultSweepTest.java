package diveconnector.sweep;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import diveconnector.testing.TestEnvironment;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * Every fault dcsim can inject into the libdivecomputer calls of a download and of a model
 * listing, through the JVM. The sweep runs in a child JVM ({@link FaultSweep}) whose standard
 * output, the library's diagnostic lines included, goes to a file the sweep reads back.
 */
class FaultSweepTest {
    private static final long TIMEOUT_SECONDS = 300;
    private static final Pattern SUMMARY = Pattern.compile(
        "fault sweep: (\\d+) cases .* (\\d+) mismatched, in \\d+ ms");

    @Test
    void everyFaultEndsAsTheMessageCatalogueSays() throws IOException, InterruptedException {
        Path output = Files.createTempFile("fault-sweep", ".out");
        Path errors = Files.createTempFile("fault-sweep", ".err");
        try {
            String api = System.getProperty("sweep.dcsim.api");
            if (api == null) {
                throw new IllegalStateException(
                    "system property sweep.dcsim.api is not set; run the sweep through ctest");
            }
            ProcessBuilder builder = new ProcessBuilder(ChildJvm.command(
                FaultSweep.class, output.toString(),
                TestEnvironment.path("sweep.dcsim.calls").toString(), api));
            builder.redirectOutput(output.toFile());
            builder.redirectError(errors.toFile());
            Process sweep = builder.start();
            sweep.getOutputStream().close();
            if (!sweep.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS)) {
                sweep.destroyForcibly().waitFor();
                fail("the fault sweep did not end within " + TIMEOUT_SECONDS + " s");
            }
            String stdout = Files.readString(output);
            String stderr = Files.readString(errors);
            String report = report(stdout);
            System.out.print(report);
            if (!stderr.isBlank()) {
                report += "--- error output of the sweep ---\n" + stderr;
            }

            assertNull(ChildJvm.jniWarning(stdout + stderr), report);
            Matcher summary = SUMMARY.matcher(stdout);
            assertTrue(summary.find(), () -> "no summary from the sweep\n" + stdout + stderr);
            assertTrue(Integer.parseInt(summary.group(1)) > 0, "the sweep ran no case");
            assertEquals("0", summary.group(2), report);
            assertEquals(0, sweep.exitValue(), report);
        } finally {
            Files.deleteIfExists(output);
            Files.deleteIfExists(errors);
        }
    }

    /** The sweep's summary and mismatches. */
    private static String report(String stdout) {
        StringBuilder report = new StringBuilder();
        for (String line : stdout.split("\n")) {
            if (line.startsWith("fault sweep: ") || line.startsWith("MISMATCH ")) {
                report.append(line).append('\n');
            }
        }
        return report.toString();
    }
}
