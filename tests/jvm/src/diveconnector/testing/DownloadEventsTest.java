package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The download events the library calls on the application's connector object. */
class DownloadEventsTest {
    private static final String HANDLER_FAILED = "[-]: The application's event handler failed.";
    private static final Pattern PROGRESS_LINE =
        Pattern.compile("Event: progress [0-9.]+% \\((\\d+)/(\\d+)\\)");
    private static final Pattern DEVINFO_LINE = Pattern.compile(
        "Event: model=(\\d+) \\(0x\\p{XDigit}{8}\\), firmware=(\\d+) \\(0x\\p{XDigit}{8}\\), "
        + "serial=(\\d+) \\(0x\\p{XDigit}{8}\\)");

    @TempDir
    Path temporary;

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    /** Five dives of two chunks each, oldest first; events as the scenario's `events` line. */
    private static String fiveDives(String events) {
        StringBuilder scenario = new StringBuilder(
            "devinfo 0xFFFFFFFF 0x80000001 4000000000\nevents " + events + "\ntransfer 2 0\n");
        for (int day = 1; day <= 5; day++) {
            scenario.append("dive\ndatetime 2024-10-0").append(day)
                .append(" 08:00:00\nprofile 0:00@0 5:00@10 10:00@0\n");
        }
        return scenario.toString();
    }

    private static List<String> newestFirst(int count) {
        List<String> dates = new ArrayList<>();
        for (int day = 5; day > 5 - count; day--) {
            dates.add("2024-10-0" + day + " 08:00:00");
        }
        return dates;
    }

    /** Records every event it hears and acts on the first one equal to actOn. */
    static class RecordingConnector extends DeviceConnector {
        final List<String> heard = new ArrayList<>();
        private final String actOn;
        private final Runnable action;
        private boolean acted;

        RecordingConnector(String actOn, Runnable action) {
            this.actOn = actOn;
            this.action = action;
        }

        private void hear(String event) {
            heard.add(event);
            if (!acted && event.equals(actOn)) {
                acted = true;
                action.run();
            }
        }

        @Override
        public void onDownloadProgress(long current, long maximum) {
            hear("progress " + current + "/" + maximum);
        }

        @Override
        public void onDownloadWaiting() {
            hear("waiting");
        }

        @Override
        public void onDeviceInfo(long model, long firmware, long serial) {
            hear("devinfo " + model + " " + firmware + " " + serial);
        }
    }

    private static Device download(DeviceConnector connector, RecordingSet<Dive> dives)
        throws NativeException {
        try {
            return connector.loadUserDivesFromDevice(Downloads.PORT, Downloads.VENDOR,
                                                     Downloads.PRODUCT, dives);
        } finally {
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        }
    }

    // Each event reaches Java right after its line, with the values of that line; the unsigned
    // 32-bit values arrive whole. The clock has a line but no method.
    @Test
    void eachEventFollowsItsLineWithTheSameValues() throws Exception {
        Path scenario = temporary.resolve("computer.txt");
        Files.writeString(scenario, fiveDives("waiting progress devinfo clock"));
        ChildProcess child =
            ChildProcess
                .run(TestEnvironment.childJvm(TestEnvironment.variantClassPath(
                                                  null, false, EventsProbe.class),
                                              EventsProbe.class.getName(), scenario.toString()),
                     Map.of())
                .assertClean(0);
        assertEquals("", child.stderr(), child::toString);

        List<String> lines = List.of(child.stdout().split("\n"));
        List<String> heard = new ArrayList<>();
        for (int i = 0; i < lines.size(); i++) {
            String line = lines.get(i);
            String expected = null;
            Matcher progress = PROGRESS_LINE.matcher(line);
            Matcher devinfo = DEVINFO_LINE.matcher(line);
            if (line.equals("Event: waiting for user action")) {
                expected = "heard waiting";
            } else if (progress.matches()) {
                expected = "heard progress " + progress.group(1) + "/" + progress.group(2);
            } else if (devinfo.matches()) {
                expected = "heard devinfo " + devinfo.group(1) + " " + devinfo.group(2) + " "
                    + devinfo.group(3);
            } else if (line.startsWith("heard ")) {
                throw new AssertionError("an event without its line before it, at line " + i
                                         + "\n" + child);
            }
            if (expected != null) {
                assertTrue(i + 1 < lines.size(), child::toString);
                assertEquals(expected, lines.get(i + 1), () -> "after line " + line + "\n" + child);
                heard.add(lines.get(++i));
            }
        }
        List<String> expected = new ArrayList<>(List.of(
            "heard waiting", "heard progress 0/10",
            "heard devinfo 4294967295 2147483649 4000000000"));
        for (int chunk = 1; chunk <= 10; chunk++) {
            expected.add("heard progress " + chunk + "/10");
        }
        assertEquals(expected, heard);
        DownloadOutcome outcome = DownloadOutcome.parse(child.stdout());
        assertEquals(newestFirst(5), outcome.dives(), outcome::toString);
        assertEquals(0, outcome.liveHandles());
    }

    // A throwing handler ends the download like a cancellation, wherever it throws: nothing is
    // handed over and the handler hears nothing more. Every JNI call afterwards runs with no
    // exception pending (the test JVM runs with -Xcheck:jni).
    @ParameterizedTest(name = "{0} at {1}")
    @CsvSource({
        "RuntimeException, waiting, 1, 0",
        "RuntimeException, devinfo 4294967295 2147483649 4000000000, 3, 0",
        "RuntimeException, progress 5/10, 8, 2",
        "Error, progress 10/10, 13, 4",
    })
    void aThrowingHandlerEndsTheDownloadWithNothingHandedOver(String kind, String event,
                                                               int heardBeforeEnd, int parsed) {
        Downloads.attach(fiveDives("waiting progress devinfo"));
        RecordingConnector connector = new RecordingConnector(event, () -> {
            if (kind.equals("Error")) {
                throw new AssertionError("handler failed");
            }
            throw new IllegalStateException("handler failed");
        });
        RecordingSet<Dive> dives = RecordingSet.accepting();

        NativeException thrown =
            assertThrows(NativeException.class, () -> download(connector, dives));

        assertEquals(HANDLER_FAILED, thrown.getMessage());
        assertEquals(0, dives.calls(), "no dive is handed over");
        assertEquals(heardBeforeEnd, connector.heard.size(), connector.heard::toString);
        assertEquals(event, connector.heard.get(heardBeforeEnd - 1), "the throwing event is last");
        assertEquals(parsed, DcSim.calls("dc_parser_new"), "the transfer stops at once");
        assertEquals(1, DcSim.calls("dc_device_close"));
    }

    // A class from before the events, without the methods, downloads as before and nothing is
    // printed about the missing methods.
    @Test
    void aConnectorWithoutTheMethodsDownloadsAsBefore() throws Exception {
        Path scenario = temporary.resolve("computer.txt");
        Files.writeString(scenario, fiveDives("waiting progress devinfo clock"));
        ChildProcess child = DownloadChild.run("connector-without-events", true, List.of(),
                                               scenario.toString());

        DownloadOutcome outcome = DownloadOutcome.parse(child.stdout());
        assertEquals("none", outcome.thrown(), outcome::toString);
        assertEquals(newestFirst(5), outcome.dives());
        assertEquals(0, outcome.liveHandles());
    }

    // Methods of the same names with other parameters are not the events.
    @Test
    void methodsWithOtherSignaturesAreNotCalled() throws NativeException {
        Downloads.attach(fiveDives("waiting progress devinfo"));
        List<String> called = new ArrayList<>();
        DeviceConnector connector = new DeviceConnector() {
            @SuppressWarnings("unused")
            public void onDownloadProgress(int current, int maximum) {
                called.add("progress");
            }

            @SuppressWarnings("unused")
            public void onDeviceInfo(long model) {
                called.add("devinfo");
            }
        };
        RecordingSet<Dive> dives = RecordingSet.accepting();

        assertNotNull(download(connector, dives));

        assertEquals(List.of(), called);
        assertEquals(newestFirst(5), dives.added().stream().map(Dive::getDateTime).toList());
    }

    // interruptDeviceDownload from inside a handler ends the download at the next dive, keeping
    // the dives parsed so far, exactly as from another thread.
    @ParameterizedTest(name = "at {0}")
    @CsvSource({"waiting, 0", "progress 3/10, 1", "progress 10/10, 4"})
    void aHandlerMayInterruptTheDownload(String event, int kept) throws NativeException {
        Downloads.attach(fiveDives("waiting progress devinfo"));
        RecordingConnector[] self = new RecordingConnector[1];
        self[0] = new RecordingConnector(event, () -> self[0].interruptDeviceDownload());
        RecordingSet<Dive> dives = RecordingSet.accepting();

        Device device = download(self[0], dives);

        assertEquals(Downloads.VENDOR, device.getVendor());
        assertEquals(newestFirst(kept), dives.added().stream().map(Dive::getDateTime).toList());
        assertEquals(kept, DcSim.calls("dc_parser_new"), "no dive is parsed after the interruption");
    }
}
