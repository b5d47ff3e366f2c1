package diveconnector.testing;

import java.net.URISyntaxException;
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

    /**
     * The libdivecomputer release dcsim presents, such as "0.9.0": the one the library under test
     * was built for.
     */
    public static String libdivecomputerRelease() {
        String api = System.getProperty("dcsim.api");
        if (api == null || !api.matches("0\\.[89]")) {
            throw new IllegalStateException(
                "system property dcsim.api is " + api + "; run the JVM tests through ctest");
        }
        return api + ".0";
    }

    /**
     * Whether dcsim presents libdivecomputer 0.8: sample times in whole seconds, parser data given
     * after the parser is made, and the descriptor iterator made by dc_descriptor_iterator.
     */
    public static boolean olderApi() {
        return libdivecomputerRelease().equals("0.8.0");
    }

    /** The descriptor table of a libdivecomputer release, from the project's fixtures. */
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

    /**
     * The class path of a child JVM that runs {@code probe} on a class variant (or, for null, on
     * the application's classes): a variant that shadows some real classes comes before the
     * application jar, one that stands for the whole application replaces it.
     */
    public static List<Path> variantClassPath(String variant, boolean shadowsApplication,
                                              Class<?> probe) {
        List<Path> classPath = new ArrayList<>();
        if (variant != null) {
            classPath.add(variant(variant));
        }
        if (variant == null || shadowsApplication) {
            classPath.add(path("diveconnector.java.jar"));
        }
        classPath.add(classesOf(probe));
        return classPath;
    }

    /**
     * The command prefix that starts a program with SIGINT at its default disposition, as in an
     * interactive shell, even when this JVM was started with SIGINT ignored (which a child would
     * inherit, and a JVM that ignores SIGINT installs no handler for it).
     */
    public static List<String> withDefaultSigint() {
        return List.of(path("defaultsigint.executable").toString());
    }

    /**
     * The command prefix that starts a program with SIGINT ignored, as nohup, a background job or
     * {@code trap '' INT} do.
     */
    public static List<String> withIgnoredSigint() {
        return List.of("/bin/sh", "-c", "trap '' INT; exec \"$@\"", "sh");
    }

    /** The jar or directory a test class was loaded from, for a child JVM's class path. */
    public static Path classesOf(Class<?> type) {
        try {
            return Paths.get(type.getProtectionDomain().getCodeSource().getLocation().toURI());
        } catch (URISyntaxException e) {
            throw new IllegalStateException("no class path entry for " + type, e);
        }
    }

    /** The java binary of this JVM, for child JVMs. */
    public static Path javaBinary() {
        return Paths.get(System.getProperty("java.home"), "bin", "java");
    }

    /** A child JVM command: -Xcheck:jni, both native libraries, the class path and main class. */
    public static List<String> childJvm(List<Path> classPath, String mainClass,
                                        String... arguments) {
        return childJvm(List.of(), classPath, mainClass, arguments);
    }

    /** The same with more JVM options, such as a heap size. */
    public static List<String> childJvm(List<String> jvmOptions, List<Path> classPath,
                                        String mainClass, String... arguments) {
        List<String> command = new ArrayList<>();
        command.add(javaBinary().toString());
        command.add("-Xcheck:jni");
        command.addAll(jvmOptions);
        command.add("-Ddiveconnector.library=" + path("diveconnector.library"));
        command.add("-Ddcsimcontrol.library=" + path("dcsimcontrol.library"));
        command.add("-Ddcsim.api=" + System.getProperty("dcsim.api"));
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
