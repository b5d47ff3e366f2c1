package diveconnector.testing;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/** Paths of the build, handed to the test JVM as system properties by CTest. */
public final class TestEnvironment {
    private TestEnvironment() {}

    /** An existing file or directory named by a system property. */
    public static Path path(String property) {
        String value = System.getProperty(property);
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException(
                "system property " + property + " is not set; run the JVM tests through ctest");
        }
        Path path = Paths.get(value);
        if (!Files.exists(path)) {
            throw new IllegalStateException(property + " names a missing file: " + path);
        }
        return path;
    }

    /** The descriptor table of a libdivecomputer release, from the shared fixtures. */
    public static Path descriptorTable(String release) {
        return path("diveconnector.fixtures").resolve(
            "libdivecomputer-" + release + "-descriptors.tsv");
    }

    /** A class directory compiled from alternative versions of the application's classes. */
    public static Path variant(String name) {
        Path directory = path("diveconnector.variants").resolve(name);
        if (!Files.isDirectory(directory)) {
            throw new IllegalStateException("no class variant " + name + " in " + directory);
        }
        return directory;
    }

    /** The java binary of this JVM, for child JVMs. */
    public static Path javaBinary() {
        return Paths.get(System.getProperty("java.home"), "bin", "java");
    }

    /** A child JVM command: -Xcheck:jni, both native libraries, the class path and main class. */
    public static List<String> childJvm(List<Path> classPath, String mainClass,
                                        String... arguments) {
        List<String> command = new ArrayList<>();
        command.add(javaBinary().toString());
        command.add("-Xcheck:jni");
        command.add("-Ddiveconnector.library=" + path("diveconnector.library"));
        command.add("-Ddcsimcontrol.library=" + path("dcsimcontrol.library"));
        command.add("-cp");
        List<String> entries = new ArrayList<>();
        for (Path entry : classPath) {
            entries.add(entry.toString());
        }
        command.add(String.join(java.io.File.pathSeparator, entries));
        command.add(mainClass);
        command.addAll(List.of(arguments));
        return command;
    }
}
