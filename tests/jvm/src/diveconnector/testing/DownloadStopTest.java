package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Stopping a running download: interruptDeviceDownload from another thread, and Ctrl-C. */
class DownloadStopTest {
    private static final int DIVES = 10;
    // Well inside the 4 s of the last chunk, and long after its cancel check.
    private static final long LATE_SIGNAL_DELAY_MILLIS = 1000;

    @TempDir
    Path temporary;

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    /** A computer that takes `transfer` (chunks and delay) per dive; dives oldest first. */
    private static String slowComputer(String transfer) {
        StringBuilder scenario = new StringBuilder("transfer " + transfer + "\n");
        for (int dive = 0; dive < DIVES; dive++) {
            scenario.append("dive\ndatetime 2024-09-").append(String.format("%02d", dive + 1))
                .append(" 10:00:00\nprofile 0:00@0 5:00@10 10:00@0\n");
        }
        return scenario.toString();
    }

    private static List<String> newestFirst() {
        List<String> dates = new ArrayList<>();
        for (int dive = DIVES; dive >= 1; dive--) {
            dates.add(String.format("2024-09-%02d 10:00:00", dive));
        }
        return dates;
    }

    @Test
    void interruptFromAnotherThreadEndsTheDownloadWithTheDivesParsedSoFar() throws Exception {
        Downloads.attach(slowComputer("5 40"));
        Thread interrupter = Downloads.interruptWhenParsing(2);
        RecordingSet<Dive> set = RecordingSet.accepting();

        Device device = Downloads.download(set);
        interrupter.join();

        List<String> dates = set.added().stream().map(Dive::getDateTime).toList();
        assertTrue(dates.size() >= 2 && dates.size() < DIVES, dates::toString);
        assertEquals(newestFirst().subList(0, dates.size()), dates, "a prefix of the download");
        assertEquals(dates.size(), DcSim.calls("dc_parser_new"),
                     "no dive is parsed after the interruption");
        assertEquals(Downloads.VENDOR, device.getVendor());
    }

    // An interruption is for the download that runs when it is asked for, never a later one.
    @Test
    void interruptBeforeTheDownloadDoesNotAffectIt() throws NativeException {
        Downloads.attach(slowComputer("1 0"));
        Downloads.connector().interruptDeviceDownload();
        Downloads.connector().interruptDeviceDownload();

        assertEquals(newestFirst(),
                     Downloads.dives().stream().map(Dive::getDateTime).toList());
    }

    @Test
    void ctrlCCancelsTheDownloadAndAfterwardsEndsTheJvm() throws Exception {
        ChildProcess.Running running =
            signalProbe(TestEnvironment.withDefaultSigint(), slowComputer("10 50"));
        running.awaitOutput(SignalProbe.TRANSFERRING);
        running.interrupt();
        running.awaitOutput(SignalProbe.DOWNLOAD_ENDED);
        running.interrupt();
        // The JVM's own SIGINT handling ends it with 128 + SIGINT.
        ChildProcess child = running.finish().assertClean(130);

        DownloadOutcome outcome = DownloadOutcome.parse(child.stdout());
        assertEquals("[-10]: Error downloading the dives.", outcome.message(), child::toString);
        assertEquals(List.of(), outcome.dives());
        assertEquals(0, outcome.liveHandles());
        assertTrue(child.stdout().contains(SignalProbe.SHUTDOWN_HOOK_RAN), child::toString);
    }

    /** A child JVM running SignalProbe on the scenario, started through the command prefix. */
    private ChildProcess.Running signalProbe(List<String> prefix, String scenarioText)
        throws Exception {
        Path scenario = temporary.resolve("scenario.txt");
        Files.writeString(scenario, scenarioText);
        List<Path> classPath = List.of(
            TestEnvironment.path("diveconnector.java.jar"),
            TestEnvironment.classesOf(SignalProbe.class));
        List<String> command = new ArrayList<>(prefix);
        command.addAll(TestEnvironment.childJvm(classPath, SignalProbe.class.getName(),
                                                scenario.toString()));
        return ChildProcess.start(command, Map.of());
    }

    // Once the last chunk is under way libdivecomputer asks no more whether to cancel; the
    // download completes, and then the JVM must still get the Ctrl-C it would have had.
    @Test
    void ctrlCAfterTheLastCancelCheckReachesTheJvm() throws Exception {
        // Two chunks of 4 s: the check before the second comes right after the first's progress.
        ChildProcess.Running running = signalProbe(
            TestEnvironment.withDefaultSigint(),
            "transfer 2 4000\ndive\nprofile 0:00@0 5:00@10 10:00@0\n");
        running.awaitOutput("Event: progress 50.00% (1/2)");
        Thread.sleep(LATE_SIGNAL_DELAY_MILLIS);
        running.interrupt();
        // The JVM's own SIGINT handling ends it with 128 + SIGINT, whatever the probe does next.
        ChildProcess child = running.finish().assertClean(130);

        assertTrue(child.stdout().contains(SignalProbe.SHUTDOWN_HOOK_RAN), child::toString);
        assertFalse(child.stdout().contains("[-10]"), child::toString);
    }

    // nohup, background jobs and `trap '' INT` start the JVM with SIGINT ignored, and it keeps it
    // so; a download must not turn that signal into a cancellation.
    @Test
    void ignoredSigintLeavesTheDownloadAlone() throws Exception {
        ChildProcess.Running running =
            signalProbe(TestEnvironment.withIgnoredSigint(), slowComputer("10 50"));
        running.awaitOutput(SignalProbe.TRANSFERRING);
        running.interrupt();
        running.awaitOutput(SignalProbe.DOWNLOAD_ENDED);
        // Still ignored after the download: this one would otherwise end the JVM with 130.
        running.interrupt();
        running.terminate();
        // SIGTERM: 128 + 15.
        ChildProcess child = running.finish().assertClean(143);

        DownloadOutcome outcome = DownloadOutcome.parse(child.stdout());
        assertEquals("none", outcome.thrown(), child::toString);
        assertEquals(newestFirst(), outcome.dives());
        assertEquals(0, outcome.liveHandles());
    }
}
