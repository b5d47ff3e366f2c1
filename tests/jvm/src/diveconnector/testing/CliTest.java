package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/** The diveconnector command-line tool, run through its launcher under -Xcheck:jni. */
class CliTest {
    private static final String JAVA_OPTIONS_NOTE = "NOTE: Picked up JDK_JAVA_OPTIONS:";

    private static ChildProcess tool(String... arguments) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(TestEnvironment.path("diveconnector.launcher").toString());
        command.addAll(List.of(arguments));
        return ChildProcess.run(command, Map.of("JDK_JAVA_OPTIONS", "-Xcheck:jni"));
    }

    /** The child's stderr without the java launcher's note about JDK_JAVA_OPTIONS. */
    private static String errors(ChildProcess child) {
        StringBuilder errors = new StringBuilder();
        for (String line : child.stderr().split("\n", -1)) {
            if (!line.startsWith(JAVA_OPTIONS_NOTE)) {
                errors.append(line).append('\n');
            }
        }
        return errors.toString().strip();
    }

    @Test
    void listPrintsEveryModelInTheSetsOrderAndACount() throws Exception {
        DcSim.reset();
        List<Device> expected = new ArrayList<>(new DeviceConnector().getSupportedDevices());

        ChildProcess child = tool("list").assertClean(0);

        assertEquals("", errors(child), child::toString);
        List<String> lines = List.of(child.stdout().split("\n"));
        String header = lines.get(0);
        int productColumn = header.indexOf("Product");
        assertTrue(header.startsWith("Vendor") && productColumn > 0, header);
        List<String> rows = lines.subList(1, lines.size() - 1);
        assertEquals(expected.size(), rows.size(), child::toString);
        for (int i = 0; i < rows.size(); i++) {
            String row = rows.get(i);
            Device device = expected.get(i);
            assertEquals(device.getVendor(), row.substring(0, productColumn).strip(), row);
            assertEquals(device.getProduct(), row.substring(productColumn), row);
        }
        assertEquals(expected.size() + " supported models", lines.get(lines.size() - 1));
    }

    @Test
    void helpIsPrintedForEveryWayOfAskingForIt() throws Exception {
        String usage = tool("--help").assertClean(0).stdout();

        assertTrue(usage.startsWith("Usage: diveconnector"), usage);
        assertTrue(usage.contains("list"), usage);
        for (String[] arguments :
             new String[][] {{}, {"help"}, {"-h"}, {"list", "--help"}, {"--verbose", "help"}}) {
            ChildProcess child = tool(arguments).assertClean(0);
            assertEquals(usage, child.stdout(), child::toString);
            assertEquals("", errors(child), child::toString);
        }
    }

    @Test
    void misuseExitsWithTwoAndOneErrorLineBeforeTheUsage() throws Exception {
        String usage = tool("--help").stdout().strip();
        String[][] cases = {
            {"unknown command 'bogus'", "bogus"},
            {"unknown option '--port'", "list", "--port", "/dev/ttyUSB0"},
            {"unknown option '--frobnicate'", "--frobnicate"},
            {"unexpected argument 'extra'", "list", "extra"},
        };
        for (String[] misuse : cases) {
            String[] arguments = List.of(misuse).subList(1, misuse.length).toArray(new String[0]);
            ChildProcess child = tool(arguments).assertClean(2);
            assertEquals("", child.stdout(), child::toString);
            assertEquals("diveconnector: " + misuse[0] + "\n" + usage, errors(child),
                         child::toString);
        }
    }

    private static ChildProcess toolOnVariant(String variant, String... arguments)
        throws Exception {
        List<Path> classPath = List.of(TestEnvironment.variant(variant),
                                       TestEnvironment.path("diveconnector.tool.jar"),
                                       TestEnvironment.path("diveconnector.java.jar"));
        return ChildProcess.run(
            TestEnvironment.childJvm(classPath, "brenquill.main.java.tool.Main", arguments),
            Map.of());
    }

    @Test
    void nativeFailureExitsWithOneAndOneLineUnlessVerbose() throws Exception {
        ChildProcess plain = toolOnVariant("device-constructor-throws", "list").assertClean(1);
        assertEquals("", plain.stdout(), plain::toString);
        assertEquals("diveconnector: Could not create device.\n", plain.stderr());

        ChildProcess verbose =
            toolOnVariant("device-constructor-throws", "--verbose", "list").assertClean(1);
        assertTrue(verbose.stderr().startsWith(
                       "diveconnector: Could not create device.\n"
                       + "brenquill.main.java.core.exceptions.NativeException: Could not create "
                       + "device.\n\tat "),
                   verbose::toString);
    }

    @Test
    void missingNativeLibraryIsOneLine() throws Exception {
        List<String> command = List.of(
            TestEnvironment.javaBinary().toString(), "-Ddiveconnector.library=/nonexistent/lib.so",
            "-cp",
            TestEnvironment.path("diveconnector.tool.jar") + java.io.File.pathSeparator
                + TestEnvironment.path("diveconnector.java.jar"),
            "brenquill.main.java.tool.Main", "list");

        ChildProcess child = ChildProcess.run(command, Map.of()).assertClean(1);

        assertTrue(child.stderr().startsWith("diveconnector: cannot load the native library: "),
                   child::toString);
        assertEquals(1, child.stderr().strip().split("\n").length, child::toString);
    }
}
