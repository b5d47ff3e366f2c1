package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.file.Path;
import java.util.List;
import java.util.Map;

/** {@link DownloadProbe} in a child JVM under -Xcheck:jni, for the download tests. */
final class DownloadChild {
    private DownloadChild() {}

    /**
     * Runs the probe on a class variant (see TestEnvironment.variantClassPath) and fails unless
     * it ended cleanly and printed nothing to standard error.
     */
    static ChildProcess run(String variant, boolean shadowsApplication, List<String> jvmOptions,
                            String... arguments) throws Exception {
        List<Path> classPath =
            TestEnvironment.variantClassPath(variant, shadowsApplication, DownloadProbe.class);
        ChildProcess child =
            ChildProcess
                .run(TestEnvironment.childJvm(jvmOptions, classPath,
                                              DownloadProbe.class.getName(), arguments),
                     Map.of())
                .assertClean(0);
        assertEquals("", child.stderr(), () -> "the child printed to stderr\n" + child);
        return child;
    }
}
