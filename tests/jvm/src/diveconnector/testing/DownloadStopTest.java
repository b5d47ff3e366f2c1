package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
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
    private static final long POLL_MILLIS = 1;

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
        Thread interrupter = new Thread(() -> {
            try {
                while (DcSim.calls("dc_parser_new") < 2) {
                    Thread.sleep(POLL_MILLIS);
                }
                Downloads.connector().interruptDeviceDownload();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        interrupter.start();
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
        Path scenario = temporary.resolve("slow.txt");
        Files.writeString(scenario, slowComputer("10 50"));
        List<Path> classPath = List.of(
            TestEnvironment.path("diveconnector.java.jar"),
            TestEnvironment.classesOf(SignalProbe.class));
        List<String> command = new ArrayList<>(TestEnvironment.withDefaultSigint());
        command.addAll(TestEnvironment.childJvm(classPath, SignalProbe.class.getName(),
                                                scenario.toString()));

        ChildProcess.Running running = ChildProcess.start(command, Map.of());
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
}
