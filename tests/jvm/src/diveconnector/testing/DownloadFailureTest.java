package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Downloads that fail: in libdivecomputer (in this JVM, through dcsim), on the Java side (in child
 * JVMs on class variants built from tests/jvm/variants), and before they start.
 */
class DownloadFailureTest {
    private static final String NATIVE_EXCEPTION =
        "brenquill.main.java.core.exceptions.NativeException";
    private static final String NULL_ARGUMENT =
        "Device name, vendor, product and the dive set must not be null.";

    @TempDir
    Path temporary;

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    /** Four dives, oldest first; the computer lines and the third dive's lines are added. */
    private static String fourDives(String computerLines, String thirdDiveLines) {
        StringBuilder scenario = new StringBuilder(computerLines).append('\n');
        for (int day = 1; day <= 4; day++) {
            scenario.append("dive\ndatetime 2024-07-0").append(day).append(" 10:00:00\n")
                .append("mix 32 0\nprofile interval=10 tank=0:200:80 0:00@0 2:00@12 20:00@10 "
                        + "22:00@0\n");
            if (day == 3) {
                scenario.append(thirdDiveLines).append('\n');
            }
        }
        return scenario.toString();
    }

    /** Downloads into a recording set, expecting a NativeException that carries no cause. */
    private static String failingDownload(String port, String vendor, String product) {
        RecordingSet<Dive> set = RecordingSet.accepting();
        NativeException thrown = assertThrows(
            NativeException.class, () -> Downloads.download(port, vendor, product, set));
        assertEquals(0, set.calls(), () -> "a failed download hands over no dive: " + set);
        assertNull(thrown.getCause());
        return thrown.getMessage();
    }

    // Each call fails in its turn; the parser's calls at the third dive, after two dives were
    // parsed: no dive reaches Java all the same.
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "dc_context_new         |1|NOMEMORY   |0| [-3]: Could not create the context.",
        "dc_iterator_next       |1|IO         |0| [-6]: No matching device descriptor found.",
        "dc_serial_open         |1|NOACCESS   |0| [-5]: Error opening device.",
        "dc_device_open         |1|IO         |0| [-6]: Error opening device.",
        "dc_device_set_events   |1|PROTOCOL   |1| [-8]: Error registering the event handler.",
        "dc_device_set_cancel |1|INVALIDARGS|1| [-2]: Error registering the cancellation handler.",
        "dc_device_foreach      |1|CANCELLED  |1| [-10]: Error downloading the dives.",
        "dc_parser_new          |3|NOMEMORY   |1| [-3]: Error creating the parser.",
        "dc_parser_get_datetime |3|DATAFORMAT |1| [-9]: Error parsing the datetime.",
        "dc_parser_samples_foreach|3|IO       |1| [-6]: Error parsing the sample data.",
    })
    void failingLibraryCallReachesJavaAsItsDescription(String function, int nth,
                                                      DcSim.Status status, int closes,
                                                      String message) {
        Downloads.attach(fourDives("", ""));
        DcSim.fault(function, nth, status);

        assertEquals(message,
                     failingDownload(Downloads.PORT, Downloads.VENDOR, Downloads.PRODUCT));
        assertEquals(closes, DcSim.calls("dc_device_close"), "an opened device is closed");
    }

    @ParameterizedTest(name = "{2}")
    @CsvSource(delimiter = '|', value = {
        "fail-after 0 TIMEOUT|                             | [-7]: Error downloading the dives.",
        "fail-after 2 IO     |                             | [-6]: Error downloading the dives.",
        "                    | fault field divetime PROTOCOL| [-8]: Error parsing the divetime.",
        "                    | fault field maxdepth IO     | [-6]: Error parsing the maxdepth.",
        "                    | fault field gasmix-count IO | [-6]: Error parsing the gas mix count.",
        "                    | fault field gasmix NOMEMORY | [-3]: Error parsing the gas mix.",
        "                    | fault samples 5 DATAFORMAT  | [-9]: Error parsing the sample data.",
        "                    | fault samples 0 UNSUPPORTED | [-1]: Error parsing the sample data.",
    })
    void failingComputerReachesJavaAsItsDescription(String computerLines, String diveLines,
                                                   String message) {
        Downloads.attach(fourDives(computerLines == null ? "" : computerLines,
                                   diveLines == null ? "" : diveLines));

        assertEquals(message,
                     failingDownload(Downloads.PORT, Downloads.VENDOR, Downloads.PRODUCT));
    }

    // libdivecomputer 0.8 takes the data after creating the parser, so the data is refused then.
    @Test
    void parserRefusingTheDataFailsTheDownload() {
        Downloads.attach(fourDives("", "fault parser NOMEMORY"));

        assertEquals(TestEnvironment.olderApi() ? "[-3]: Error registering the data."
                                                : "[-3]: Error creating the parser.",
                     failingDownload(Downloads.PORT, Downloads.VENDOR, Downloads.PRODUCT));
    }

    @ParameterizedTest(name = "''{0}'' ''{1}''")
    @CsvSource(delimiter = '|', quoteCharacter = '"', value = {
        "dcsim          | Reef Explorer",
        "Dcsim          | reef explorer",
        "\"Dcsim \"     | Reef Explorer",
        "Dcsim          | \"Reef Explorer \"",
        "Dcsim          | Reef",
        "Reef Explorer  | Dcsim",
        "\"\"           | \"\"",
    })
    void modelIsChosenByItsExactVendorAndProduct(String vendor, String product) {
        Downloads.attach(fourDives("", ""));

        assertEquals("[-]: No matching device found.",
                     failingDownload(Downloads.PORT, vendor, product));
        assertEquals(0, DcSim.calls("dc_device_open"));
    }

    @Test
    void portWithoutComputerCannotBeOpened() {
        assertEquals("[-4]: Error opening device.",
                     failingDownload("sim:nothing-here", Downloads.VENDOR, Downloads.PRODUCT));
    }

    @ParameterizedTest(name = "null argument {0}")
    @CsvSource({"0", "1", "2", "3"})
    void nullArgumentIsRefusedBeforeAnythingIsOpened(int nullArgument) {
        String[] texts = {"dcsim:builtin", Downloads.VENDOR, Downloads.PRODUCT};
        if (nullArgument < texts.length) {
            texts[nullArgument] = null;
        }
        RecordingSet<Dive> set = nullArgument == 3 ? null : RecordingSet.accepting();

        NativeException thrown = assertThrows(
            NativeException.class,
            () -> Downloads.download(texts[0], texts[1], texts[2], set));

        assertEquals(NULL_ARGUMENT, thrown.getMessage());
        assertEquals(0, DcSim.calls("dc_context_new"));
        if (set != null) {
            assertEquals(0, set.calls());
        }
    }

    /** The release of the same major version whose minor version is not the one built for. */
    private static int[] otherMinorRelease() {
        return TestEnvironment.olderApi() ? new int[] {0, 9, 0} : new int[] {0, 8, 0};
    }

    private static String mismatch(int... loaded) {
        return "Incompatible libdivecomputer " + loaded[0] + "." + loaded[1] + "." + loaded[2]
            + " (built for " + TestEnvironment.libdivecomputerRelease() + ").";
    }

    @Test
    void libraryOfAnotherMinorOrMajorVersionIsRefusedByBothExports() {
        int built = TestEnvironment.olderApi() ? 8 : 9;
        for (int[] loaded : List.of(otherMinorRelease(), new int[] {1, built, 0},
                                    new int[] {0, built + 2, 1})) {
            DcSim.reset();
            DcSim.setVersion(loaded[0], loaded[1], loaded[2]);

            NativeException download = assertThrows(
                NativeException.class,
                () -> Downloads.download("dcsim:builtin", Downloads.VENDOR, Downloads.PRODUCT,
                                         RecordingSet.accepting()));
            NativeException listing = assertThrows(
                NativeException.class, () -> Downloads.connector().getSupportedDevices());
            // The check comes before the arguments are looked at.
            NativeException nulls = assertThrows(
                NativeException.class,
                () -> Downloads.connector().loadUserDivesFromDevice(null, null, null, null));

            assertEquals(mismatch(loaded), download.getMessage());
            assertEquals(mismatch(loaded), listing.getMessage());
            assertEquals(mismatch(loaded), nulls.getMessage());
            assertEquals(0, DcSim.calls("dc_context_new"), "nothing is opened");
            assertEquals(0, DcSim.calls("dc_iterator_next"), "no model is read");
        }
    }

    @Test
    void libraryOfAnotherMicroVersionIsAccepted() throws NativeException {
        DcSim.setVersion(0, TestEnvironment.olderApi() ? 8 : 9, 7);
        RecordingSet<Dive> set = RecordingSet.accepting();

        Downloads.download("dcsim:builtin", Downloads.VENDOR, Downloads.PRODUCT, set);

        assertEquals(20, set.size());
        assertFalse(Downloads.connector().getSupportedDevices().isEmpty());
    }

    // --- Java-side failures -------------------------------------------------------------------

    @Test
    void setRefusingTheThirdDiveKeepsTheFirstTwo() {
        Downloads.attach(fourDives("", ""));
        RecordingSet<Dive> set = RecordingSet.throwingAt(3);

        NativeException thrown =
            assertThrows(NativeException.class, () -> Downloads.download(set));

        assertEquals("Could not save dive.", thrown.getMessage());
        assertNull(thrown.getCause(), "the Java exception is replaced, not chained");
        assertEquals(3, set.calls(), "no dive after the refused one");
        assertEquals(List.of("2024-07-04 10:00:00", "2024-07-03 10:00:00"),
                     set.added().stream().map(Dive::getDateTime).toList());
        assertEquals(1, DcSim.calls("dc_device_close"));
    }

    /** A dive whose raw header holds a mix of these fractions, beyond what a Gas accepts. */
    private static String impossibleMixDive(String oxygenBits, String heliumBits) {
        // Magic, version 1, header of one 19-byte GASMIX record: tag 0x14, length 17, oxygen and
        // helium as little-endian doubles, usage none.
        return "dive\nraw 4443534d0100000013000000" + "1411" + oxygenBits + heliumBits + "00\n";
    }

    @Test
    void mixTheApplicationRefusesFailsWithTheDivesBeforeIt() {
        Downloads.attach(impossibleMixDive("000000000000f83f", "0000000000000000")
                         + "dive\ndatetime 2024-07-05 10:00:00\nmix 21 0\ntime 0\n");
        RecordingSet<Dive> set = RecordingSet.accepting();

        NativeException thrown =
            assertThrows(NativeException.class, () -> Downloads.download(set));

        assertEquals("Could not create gas.", thrown.getMessage());
        assertNull(thrown.getCause());
        assertEquals(List.of("2024-07-05 10:00:00"),
                     set.added().stream().map(Dive::getDateTime).toList());
    }

    /** Runs the probe on a class variant (see TestEnvironment.variantClassPath). */
    private static DownloadOutcome probe(String variant, boolean shadowsApplication,
                                         List<String> jvmOptions, String... arguments)
        throws Exception {
        return DownloadOutcome.parse(
            DownloadChild.run(variant, shadowsApplication, jvmOptions, arguments).stdout());
    }

    /** Five dives, oldest first; the third one delivered (the middle one) has no samples. */
    private Path fiveDives() throws Exception {
        StringBuilder scenario = new StringBuilder("devinfo 1 2 123456\n");
        for (int day = 1; day <= 5; day++) {
            scenario.append("dive\ndatetime 2024-08-0").append(day).append(" 09:00:00\nmix 21 0\n");
            if (day != 3) {
                scenario.append("profile 0:00@0 5:00@10 10:00@0\n");
            }
        }
        Path file = temporary.resolve("five-dives.txt");
        Files.writeString(file, scenario);
        return file;
    }

    // Each check point of the conversion fails in turn. The third dive delivered has no
    // samples, so a failing third profile also shows that an empty profile is set.
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "gas-blend-throws          | Could not create gas.          | 2",
        "dive-constructor-throws   | Could not create dive.         | 2",
        "dive-profile-throws       | Could not set dive profile.    | 2",
        "device-constructor-throws | Could not create parent device. | 0",
    })
    void javaSideFailureReplacesTheJavaException(String variant, String message, int kept)
        throws Exception {
        DownloadOutcome outcome = probe(variant, true, List.of(), fiveDives().toString());

        assertEquals(NATIVE_EXCEPTION, outcome.thrown(), outcome::toString);
        assertEquals(message, outcome.message());
        assertEquals("none", outcome.cause(), "the Java exception is replaced, not chained");
        assertEquals(List.of("2024-08-05 09:00:00", "2024-08-04 09:00:00").subList(0, kept),
                     outcome.dives(), "the dives before the failure stay in the set");
        assertEquals(1, outcome.closes(), "the device is closed");
        assertEquals(0, outcome.liveHandles(), "live dcsim handles");
    }

    // The heap cannot hold the third dive's profile: the JVM's OutOfMemoryError is replaced.
    @Test
    void profileTooLargeForTheHeapFailsItsConversion() throws Exception {
        Path scenario = temporary.resolve("huge-dive.txt");
        Files.writeString(scenario, "dive\ndatetime 2024-08-01 09:00:00\n"
                                        + "profile interval=1 0@0 250000@30 500000@0\n"
                                        + "dive\ndatetime 2024-08-02 09:00:00\ntime 0\n"
                                        + "dive\ndatetime 2024-08-03 09:00:00\ntime 0\n");

        DownloadOutcome outcome = probe(null, true, List.of("-Xmx16m"), scenario.toString());

        assertEquals(NATIVE_EXCEPTION, outcome.thrown(), outcome::toString);
        assertEquals("Error while converting profile data.", outcome.message());
        assertEquals("none", outcome.cause());
        assertEquals(List.of("2024-08-03 09:00:00", "2024-08-02 09:00:00"), outcome.dives());
        assertEquals(0, outcome.liveHandles());
    }

    // Binding comes first: a missing class or method is reported even for a call whose
    // arguments are all null and whose libdivecomputer has the wrong version, and nothing is
    // opened.
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "no-native-exception         | false | java.lang.NoClassDefFoundError"
            + " | brenquill/main/java/core/exceptions/NativeException",
        "no-device                   | false | " + NATIVE_EXCEPTION
            + " | Could not find the necessary Java classes.",
        "no-gas                      | false | " + NATIVE_EXCEPTION
            + " | Could not find the necessary Java classes.",
        "device-without-constructor  | true  | " + NATIVE_EXCEPTION
            + " | Could not find the necessary Java methods.",
        "dive-without-profile-setter | true  | " + NATIVE_EXCEPTION
            + " | Could not find the necessary Java methods.",
    })
    void bindingFailureComesBeforeAnythingElse(String variant, boolean shadows, String thrown,
                                               String message) throws Exception {
        int[] other = otherMinorRelease();
        DownloadOutcome outcome = probe(variant, shadows, List.of(), "--version",
                                        other[0] + "." + other[1] + "." + other[2], "--nulls");

        assertEquals(thrown, outcome.thrown(), outcome::toString);
        assertTrue(outcome.message().contains(message), outcome::toString);
        if (thrown.equals(NATIVE_EXCEPTION)) {
            assertEquals("none", outcome.cause(), "the lookup error is replaced, not chained");
        }
        assertEquals(0, outcome.contexts(), "no context is created");
        assertEquals(0, outcome.liveHandles());
    }

    @Test
    void failedDownloadLeavesTheNextOneUnaffected() throws NativeException {
        DcSim.fault("dc_device_foreach", 1, DcSim.Status.CANCELLED);
        assertThrows(NativeException.class,
                     () -> Downloads.download("dcsim:builtin", Downloads.VENDOR,
                                              Downloads.PRODUCT, RecordingSet.accepting()));

        RecordingSet<Dive> set = RecordingSet.accepting();
        Device device =
            Downloads.download("dcsim:builtin", Downloads.VENDOR, Downloads.PRODUCT, set);

        assertNotNull(device);
        assertEquals(20, set.size());
    }
}
