package diveconnector.sweep;

import brenquill.main.java.core.DeviceConnector;
import diveconnector.testing.DcSim;
import diveconnector.testing.TestEnvironment;
import java.net.URISyntaxException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/** Child JVMs of the sweep and stress tests: -Xcheck:jni, both native libraries, these jars. */
final class ChildJvm {
    /** What -Xcheck:jni prints for a misused JNI call or too many local references. */
    static final List<String> JNI_WARNINGS = List.of(
        "WARNING in native method", "WARNING: JNI local refs", "FATAL ERROR in native method");

    private ChildJvm() {}

    static List<String> command(Class<?> mainClass, String... arguments) {
        return TestEnvironment.childJvm(
            List.of(jarOf(ChildJvm.class), jarOf(DcSim.class), jarOf(DeviceConnector.class)),
            mainClass.getName(), arguments);
    }

    /** The first JNI warning in the output, or null. */
    static String jniWarning(String output) {
        for (String warning : JNI_WARNINGS) {
            if (output.contains(warning)) {
                return warning;
            }
        }
        return null;
    }

    /** The jar (or class directory) a class was loaded from. */
    private static Path jarOf(Class<?> type) {
        try {
            return Paths.get(type.getProtectionDomain().getCodeSource().getLocation().toURI());
        } catch (URISyntaxException e) {
            throw new IllegalStateException("no class path entry for " + type, e);
        }
    }
}
