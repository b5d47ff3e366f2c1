package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;

import brenquill.main.java.core.exceptions.NativeException;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * Downloads in an application whose classes come from a loader that does not pass unknown
 * packages on to its parent (OSGi, JBoss Modules, plugin loaders), each in a fresh child JVM.
 */
class IsolatingLoaderTest {
    private static List<String> probe(String... mode) throws Exception {
        List<String> arguments = new ArrayList<>();
        arguments.add(TestEnvironment.path("diveconnector.java.jar").toString());
        arguments.addAll(List.of(mode));
        ChildProcess child =
            ChildProcess
                .run(TestEnvironment.childJvm(
                         List.of(TestEnvironment.classesOf(IsolatingLoaderProbe.class)),
                         IsolatingLoaderProbe.class.getName(), arguments.toArray(new String[0])),
                     Map.of())
                .assertClean(0);
        assertEquals("", child.stderr(), child::toString);
        List<String> lines = new ArrayList<>();
        for (String line : child.stdout().split("\n")) {
            if (line.startsWith("download\t") || line.startsWith("live\t")
                || line.startsWith("details\t")) {
                lines.add(line);
            }
        }
        return lines;
    }

    @Test
    void everyDownloadInARowConvertsItsProfiles() throws Exception {
        List<String> expected = new ArrayList<>();
        for (int i = 0; i < IsolatingLoaderProbe.SEQUENTIAL_DOWNLOADS; i++) {
            expected.add("download\tdcsim:builtin\t" + IsolatingLoaderProbe.BUILTIN_DIVES);
        }
        expected.add("live\t0");

        assertEquals(expected, probe("sequential"));
    }

    @Test
    void twoFirstDownloadsAtOnceBothSucceed() throws Exception {
        List<String> expected = new ArrayList<>();
        for (String port : IsolatingLoaderProbe.RACING_PORTS) {
            expected.add("download\t" + port + "\t" + IsolatingLoaderProbe.RACING_DIVES);
        }
        expected.add("live\t0");

        assertEquals(expected, probe("racing"));
    }

    @Test
    void aConnectorOfTheIsolatedLoaderGetsEveryDivesDetails() throws Exception {
        assertEquals(List.of("download\tdcsim:builtin\t" + IsolatingLoaderProbe.BUILTIN_DIVES,
                             "details\t" + IsolatingLoaderProbe.BUILTIN_DIVES, "live\t0"),
                     probe("details",
                           TestEnvironment.path("diveconnector.details.jar").toString()));
    }

    @Test
    void aLoaderWithoutTheLibrarysJarFailsTheDownloadSayingSo() throws Exception {
        assertEquals(List.of("download\tdcsim:builtin\t" + NativeException.class.getName()
                                 + ": Could not find the dive details classes of the library's jar.",
                             "live\t0"),
                     probe("details"));
    }
}
