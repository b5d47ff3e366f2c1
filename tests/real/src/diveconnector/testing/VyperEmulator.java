package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.fail;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * The emulated Suunto Vyper (tests/real/emulators/suunto_vyper.py) on a pseudo-terminal of its
 * own, for as long as the test holds it:
 *
 * <pre>
 * try (VyperEmulator vyper = VyperEmulator.start("--dives", "2")) {
 *     connector.loadUserDivesFromDevice(vyper.port(), "Suunto", "Vyper", dives);
 *     ... vyper.dives() ...
 * }
 * </pre>
 */
final class VyperEmulator implements AutoCloseable {
    private static final long TIMEOUT_SECONDS = 120;

    /** One dive as the emulator encoded it. */
    record Sample(float time, float depth, Integer event) {}

    /** One dive as the emulator encoded it; its details by release (DetailsRendering). */
    record EncodedDive(String dateTime, float diveTime, float maxDepth, int oxygen, int helium,
        int size, String fingerprint, List<Sample> samples, Object details) {}

    private final Process process;
    private final Path values;
    private final BlockingQueue<String> lines = new LinkedBlockingQueue<>();
    private final String port;

    private VyperEmulator(Process process, Path values) throws InterruptedException {
        this.process = process;
        this.values = values;
        Thread reader = new Thread(this::readLines, "vyper-emulator-output");
        reader.setDaemon(true);
        reader.start();
        port = awaitLine("port ").substring("port ".length());
    }

    static VyperEmulator start(String... options) throws IOException, InterruptedException {
        Path values = Files.createTempFile("vyper-values", ".json");
        List<String> command = new ArrayList<>(List.of(TestEnvironment.path("python3").toString(),
            TestEnvironment.path("emulators").resolve("suunto_vyper.py").toString(), "--values",
            values.toString()));
        command.addAll(List.of(options));
        Process process =
            new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        return new VyperEmulator(process, values);
    }

    private void readLines() {
        try (BufferedReader reader = new BufferedReader(
                 new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            for (String line = reader.readLine(); line != null; line = reader.readLine()) {
                lines.add(line);
            }
        } catch (IOException e) {
            lines.add("output failed: " + e);
        }
    }

    /** The device name of the emulated computer's port. */
    String port() { return port; }

    /** Waits for the emulator's next line that starts with the text, skipping the others. */
    String awaitLine(String start) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(TIMEOUT_SECONDS);
        while (true) {
            String line = lines.poll(deadline - System.nanoTime(), TimeUnit.NANOSECONDS);
            if (line == null) {
                fail("the emulator did not print \"" + start + "\" within " + TIMEOUT_SECONDS
                    + " s");
            }
            if (line.startsWith(start)) {
                return line;
            }
        }
    }

    /** The serial number the emulated computer reports. */
    long serial() throws IOException { return Long.parseLong(number(encoded().get("serial"))); }

    /** The logbook the emulator encoded, oldest dive first. */
    List<EncodedDive> dives() throws IOException {
        List<EncodedDive> dives = new ArrayList<>();
        for (Object entry : (List<?>) encoded().get("dives")) {
            Map<?, ?> dive = (Map<?, ?>) entry;
            List<Sample> samples = new ArrayList<>();
            for (Object value : (List<?>) dive.get("samples")) {
                Map<?, ?> sample = (Map<?, ?>) value;
                Object event = sample.get("event");
                samples.add(new Sample(Float.parseFloat(number(sample.get("time"))),
                    metres(sample.get("depthFeet")),
                    event == null ? null : Integer.valueOf(number(event))));
            }
            dives.add(new EncodedDive((String) dive.get("datetime"),
                Float.parseFloat(number(dive.get("divetime"))), metres(dive.get("maxdepthFeet")),
                Integer.parseInt(number(dive.get("oxygen"))),
                Integer.parseInt(number(dive.get("helium"))),
                Integer.parseInt(number(dive.get("size"))), (String) dive.get("fingerprint"),
                samples, dive.get("details")));
        }
        return dives;
    }

    /** Feet as the library hands them to Java: converted in double, then a float. */
    private static float metres(Object feet) {
        return (float) (Double.parseDouble(number(feet)) * 0.3048);
    }

    private static String number(Object value) { return ((JsonReader.Number) value).text(); }

    private Map<?, ?> encoded() throws IOException {
        return (Map<?, ?>) JsonReader.read(Files.readString(values));
    }

    /** Ends the emulator: its standard input closes, and it closes the terminal. */
    @Override
    public void close() throws IOException {
        try {
            process.getOutputStream().close();
            if (!process.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                fail("the emulator did not end within " + TIMEOUT_SECONDS + " s");
            }
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
        } finally {
            Files.deleteIfExists(values);
        }
    }
}
