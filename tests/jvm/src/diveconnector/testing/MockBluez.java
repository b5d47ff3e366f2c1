package diveconnector.testing;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * A mock BlueZ (tests/ble/bluez_mock.py under python3-dbusmock) on the private system bus that
 * tests/ble/private_bus.sh gives the test JVM, for as long as it is open. Its parameters are the
 * template's JSON; in a build over dcsim, a "dcsim" entry naming its libdcsim is added.
 */
public final class MockBluez implements AutoCloseable {
    private static final long START_SECONDS = 20;
    private static final long STOP_SECONDS = 10;

    private final Process process;

    public MockBluez(String parameters) throws IOException, InterruptedException {
        String withDcsim = System.getProperty("dcsim.library") == null
                               ? parameters
                               : "{\"dcsim\": \"" + TestEnvironment.path("dcsim.library")
                                     + "\", " + parameters.substring(parameters.indexOf('{') + 1);
        ProcessBuilder builder = new ProcessBuilder(
            "/usr/bin/python3", "-m", "dbusmock", "--system", "-t",
            TestEnvironment.path("bluez.mock").toString(), "-p", withDcsim);
        builder.redirectErrorStream(true);
        builder.redirectOutput(ProcessBuilder.Redirect.DISCARD);
        process = builder.start();
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(START_SECONDS);
        // Calls made once the name is owned are answered after the template has loaded.
        while (!busCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                        "org.freedesktop.DBus.NameHasOwner", "string:org.bluez")
                    .contains("boolean true")) {
            if (!process.isAlive() || System.nanoTime() > deadline) {
                close();
                throw new IllegalStateException("the mock BlueZ did not start");
            }
            Thread.sleep(20);
        }
        busCall("org.bluez", "/", "org.freedesktop.DBus.ObjectManager.GetManagedObjects");
    }

    private static String busCall(String destination, String path, String method,
                                  String... arguments) throws IOException, InterruptedException {
        List<String> command = new java.util.ArrayList<>(List.of(
            "dbus-send", "--system", "--print-reply", "--dest=" + destination, path, method));
        command.addAll(List.of(arguments));
        Process call = new ProcessBuilder(command).redirectErrorStream(true).start();
        byte[] output = call.getInputStream().readAllBytes();
        call.waitFor();
        return new String(output, StandardCharsets.UTF_8);
    }

    @Override
    public void close() {
        process.destroy();
        try {
            if (!process.waitFor(STOP_SECONDS, TimeUnit.SECONDS)) {
                process.destroyForcibly().waitFor();
            }
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
        }
    }
}
