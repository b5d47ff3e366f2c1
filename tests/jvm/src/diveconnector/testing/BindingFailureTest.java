package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * getSupportedDevices when the Java side does not bind or misbehaves, and when a C++
 * allocation fails. Each case runs in its own JVM (with -Xcheck:jni) whose class path holds an
 * alternative version of the application's classes, built from tests/jvm/variants.
 */
class BindingFailureTest {
    private static final String NATIVE_EXCEPTION =
        "brenquill.main.java.core.exceptions.NativeException";

    /** Runs the probe on a class variant (see TestEnvironment.variantClassPath). */
    private static List<ProbeOutcome> probe(String variant, boolean shadowsApplication,
                                            String mode, Map<String, String> environment)
        throws Exception {
        List<Path> classPath =
            TestEnvironment.variantClassPath(variant, shadowsApplication, BindingProbe.class);
        ChildProcess child =
            ChildProcess
                .run(TestEnvironment.childJvm(classPath, BindingProbe.class.getName(), mode),
                     environment)
                .assertClean(0);
        assertEquals("", child.stderr(), () -> "the child printed to stderr\n" + child);
        List<ProbeOutcome> outcomes = ProbeOutcome.parseAll(child.stdout());
        assertFalse(outcomes.isEmpty(), child::toString);
        return outcomes;
    }

    private static ProbeOutcome probeList(String variant, boolean shadowsApplication)
        throws Exception {
        List<ProbeOutcome> outcomes = probe(variant, shadowsApplication, "list", Map.of());
        assertEquals(1, outcomes.size(), outcomes::toString);
        return outcomes.get(0);
    }

    @Test
    void missingNativeExceptionLetsTheJvmsOwnErrorThrough() throws Exception {
        ProbeOutcome outcome = probeList("no-native-exception", false);

        assertEquals("java.lang.NoClassDefFoundError", outcome.thrown(), outcome::toString);
        assertTrue(outcome.message().contains("brenquill/main/java/core/exceptions/NativeException"),
                   outcome::toString);
        assertEquals(0, outcome.liveHandles());
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "no-device                  | false | Could not find the necessary Java classes.",
        "device-without-constructor | true  | Could not find the necessary Java methods.",
        "device-constructor-throws  | true  | Could not create device.",
        "device-ordering-throws     | true  | Could not save device.",
    })
    void javaSideFailureBecomesANativeExceptionOfItsOwn(String variant, boolean shadows,
                                                        String message) throws Exception {
        ProbeOutcome outcome = probeList(variant, shadows);

        assertEquals(NATIVE_EXCEPTION, outcome.thrown(), outcome::toString);
        assertEquals(message, outcome.message());
        assertEquals("none", outcome.cause(), "the Java exception is replaced, not chained");
        assertEquals(0, outcome.suppressed());
        assertEquals(0, outcome.liveHandles(), "live dcsim handles");
    }

    // Every C++ allocation of a call is failed in turn, until one call gets through.
    @Test
    void failingAllocationReachesJavaAsStdBadAlloc() throws Exception {
        List<ProbeOutcome> outcomes =
            probe(null, true, "bad-alloc",
                  Map.of("LD_PRELOAD", TestEnvironment.path("failingnew.library").toString()));

        ProbeOutcome before = outcomes.get(0);
        ProbeOutcome after = outcomes.get(outcomes.size() - 1);
        ProbeOutcome unfailed = outcomes.get(outcomes.size() - 2);
        List<ProbeOutcome> failed = outcomes.subList(1, outcomes.size() - 2);
        assertEquals("before", before.step());
        assertEquals("after", after.step());
        assertEquals("none", before.thrown(), before::toString);
        assertFalse(failed.isEmpty(), "the listing makes no C++ allocation at all");
        for (ProbeOutcome outcome : failed) {
            assertTrue(outcome.allocationFailed(), outcome::toString);
            assertEquals(NATIVE_EXCEPTION, outcome.thrown(), outcome::toString);
            assertEquals("std::bad_alloc", outcome.message(), outcome::toString);
            assertEquals("none", outcome.result());
            assertEquals(0, outcome.liveHandles(), outcome::toString);
        }
        for (ProbeOutcome outcome : List.of(unfailed, after)) {
            assertFalse(outcome.allocationFailed(), outcome::toString);
            assertEquals(before.result(), outcome.result(), outcome::toString);
            assertEquals("none", outcome.thrown(), outcome::toString);
            assertEquals(0, outcome.liveHandles(), outcome::toString);
        }
    }
}
