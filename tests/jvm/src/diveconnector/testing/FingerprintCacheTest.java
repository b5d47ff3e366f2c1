package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Only new dives: the fingerprint cache the application turns on with the system property
 * diveconnector.fingerprints, over dcsim computers whose backends stop at a registered
 * fingerprint. The built-in model's Suunto Vyper backend makes a dive's fingerprint of its start:
 * year of the century, month, day, hour, minute.
 */
class FingerprintCacheTest {
    private static final String DIRECTORY_PROPERTY = "diveconnector.fingerprints";
    private static final String REFRESH_PROPERTY = "diveconnector.fingerprints.refresh";
    private static final int SERIAL = 0x00C0FFEE;
    // The built-in model's family is Suunto Vyper: dctool's backend name "vyper".
    private static final String FILE_NAME = "vyper-00C0FFEE.bin";
    private static final int DIVES = 10;

    @TempDir
    Path temporary;

    private Path cache;

    @BeforeEach
    void turnOnTheCache() {
        DcSim.reset();
        cache = temporary.resolve("state");
        System.setProperty(DIRECTORY_PROPERTY, cache.toString());
    }

    @AfterEach
    void turnItOff() {
        System.clearProperty(DIRECTORY_PROPERTY);
        System.clearProperty(REFRESH_PROPERTY);
    }

    /** A computer whose logbook holds `dives` dives of September 2024, the n-th on day n. */
    private static String computer(int dives, String extra) {
        return computer(SERIAL, dives, extra);
    }

    private static String computer(int serial, int dives, String extra) {
        StringBuilder scenario = new StringBuilder("devinfo 1 2 " + serial + "\n").append(extra);
        for (int dive = 1; dive <= dives; dive++) {
            scenario.append("dive\ndatetime 2024-09-").append(String.format("%02d", dive))
                .append(" 10:00:00\nprofile 0:00@0 5:00@10 10:00@0\n");
        }
        return scenario.toString();
    }

    private static List<String> dates() throws NativeException {
        return Downloads.dives().stream().map(Dive::getDateTime).toList();
    }

    /** The fingerprint of the dive on day `day` of the computer's September 2024. */
    private static byte[] fingerprint(int day) {
        return new byte[] {24, 9, (byte) day, 10, 0};
    }

    private Path file() {
        return cache.resolve(FILE_NAME);
    }

    private List<Path> cacheFiles() throws Exception {
        if (!Files.exists(cache)) {
            return List.of();
        }
        try (Stream<Path> files = Files.list(cache)) {
            return files.toList();
        }
    }

    @Test
    void aRepeatBringsNoDiveAndANewDiveComesAlone() throws Exception {
        Downloads.attach(computer(DIVES, ""));
        assertEquals(DIVES, dates().size());
        assertArrayEquals(fingerprint(DIVES), Files.readAllBytes(file()));

        assertEquals(List.of(), dates());
        assertArrayEquals(fingerprint(DIVES), Files.readAllBytes(file()));

        DcSim.detachAll();
        Downloads.attach(computer(DIVES + 1, ""));
        assertEquals(List.of("2024-09-11 10:00:00"), dates());
        assertArrayEquals(fingerprint(DIVES + 1), Files.readAllBytes(file()));
        assertEquals(List.of(file()), cacheFiles());
    }

    @Test
    void withoutThePropertyNothingChanges() throws Exception {
        System.clearProperty(DIRECTORY_PROPERTY);
        Downloads.attach(computer(3, ""));
        assertEquals(3, dates().size());
        assertEquals(3, dates().size());
        assertEquals(List.of(), cacheFiles());

        System.setProperty(DIRECTORY_PROPERTY, "");
        assertEquals(3, dates().size());
        assertEquals(List.of(), cacheFiles());
    }

    @Test
    void refreshIgnoresTheStoredFingerprintButStoresTheNewOne() throws Exception {
        Downloads.attach(computer(DIVES, ""));
        Files.createDirectories(cache);
        Files.write(file(), fingerprint(7));
        assertEquals(3, dates().size());

        Files.write(file(), fingerprint(7));
        System.setProperty(REFRESH_PROPERTY, "true");
        assertEquals(DIVES, dates().size());
        assertArrayEquals(fingerprint(DIVES), Files.readAllBytes(file()));
    }

    /** The cache holds dive 3: a complete download would bring dives 10 to 4 and store 10. */
    private void knowDiveThree() throws Exception {
        Files.createDirectories(cache);
        Files.write(file(), fingerprint(3));
    }

    @Test
    void anInterruptedDownloadLeavesTheCacheAsItWas() throws Exception {
        Downloads.attach(computer(DIVES, "transfer 5 40\n"));
        knowDiveThree();
        Thread interrupter = Downloads.interruptWhenParsing(2);
        RecordingSet<Dive> set = RecordingSet.accepting();
        Downloads.download(set);
        interrupter.join();

        assertTrue(set.added().size() >= 2 && set.added().size() < DIVES - 3,
                   () -> set.added().size() + " dives");
        assertArrayEquals(fingerprint(3), Files.readAllBytes(file()));
        assertEquals(DIVES - 3, dates().size(), "the dives not fetched come next time");
        assertArrayEquals(fingerprint(DIVES), Files.readAllBytes(file()));
    }

    @Test
    void aFailedDownloadOrARefusedDiveLeavesTheCacheAsItWas() throws Exception {
        Downloads.attach(computer(DIVES, ""));
        knowDiveThree();
        DcSim.fault("dc_parser_new", 2, DcSim.Status.NOMEMORY);
        assertThrows(NativeException.class, () -> Downloads.download(RecordingSet.accepting()));
        assertArrayEquals(fingerprint(3), Files.readAllBytes(file()));
        DcSim.faultsClear();

        assertThrows(NativeException.class,
                     () -> Downloads.download(RecordingSet.throwingAt(DIVES - 3)));
        assertArrayEquals(fingerprint(3), Files.readAllBytes(file()));

        DcSim.detachAll();
        Downloads.attach(computer(DIVES, "fail-after 5 IO\n"));
        assertThrows(NativeException.class, () -> Downloads.download(RecordingSet.accepting()));
        assertArrayEquals(fingerprint(3), Files.readAllBytes(file()));
        assertEquals(List.of(file()), cacheFiles());
    }

    /** An application that saves the downloaded dives in onDivesDownloaded, with its answer. */
    private static final class SavingConnector extends DeviceConnector {
        private final String answer;
        private int saved = -1;
        private boolean cacheUnchangedWhileSaving;

        SavingConnector(String answer) {
            this.answer = answer;
        }

        @Override
        public boolean onDivesDownloaded(Device device, Set<Dive> dives) {
            saved = dives.size();
            try {
                cacheUnchangedWhileSaving =
                    Arrays.equals(fingerprint(3), Files.readAllBytes(
                        Path.of(System.getProperty(DIRECTORY_PROPERTY), FILE_NAME)));
            } catch (IOException e) {
                cacheUnchangedWhileSaving = false;
            }
            if (answer.equals("throw")) {
                throw new IllegalStateException("the logbook is full");
            }
            return answer.equals("true");
        }
    }

    @Test
    void theCacheMovesOnOnlyOnceTheApplicationKeptTheDives() throws Exception {
        Downloads.attach(computer(DIVES, ""));
        for (String answer : List.of("false", "throw", "true")) {
            knowDiveThree();
            SavingConnector connector = new SavingConnector(answer);
            RecordingSet<Dive> set = RecordingSet.accepting();
            if (answer.equals("throw")) {
                NativeException thrown = assertThrows(
                    NativeException.class, () -> connector.loadUserDivesFromDevice(
                                               Downloads.PORT, Downloads.VENDOR, Downloads.PRODUCT,
                                               set));
                assertEquals("The application could not keep the dives.", thrown.getMessage());
            } else {
                Device device = connector.loadUserDivesFromDevice(Downloads.PORT, Downloads.VENDOR,
                                                                  Downloads.PRODUCT, set);
                assertEquals(String.valueOf(SERIAL), device.getSerial(), answer);
            }
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
            assertEquals(DIVES - 3, connector.saved, answer);
            assertEquals(DIVES - 3, set.added().size(), answer);
            assertTrue(connector.cacheUnchangedWhileSaving, answer);
            assertArrayEquals(fingerprint(answer.equals("true") ? DIVES : 3),
                              Files.readAllBytes(file()), answer);
        }
        assertEquals(List.of(file()), cacheFiles());
    }

    @Test
    void computersOfOneModelKeepFilesOfTheirOwn() throws Exception {
        DcSim.attach("serial sim:one\n" + computer(1, 2, ""));
        DcSim.attach("serial sim:two\n" + computer(2, 4, ""));
        for (String port : List.of("sim:one", "sim:two", "sim:one", "sim:two")) {
            Downloads.download(port, Downloads.VENDOR, Downloads.PRODUCT,
                               RecordingSet.accepting());
        }
        assertArrayEquals(fingerprint(2), Files.readAllBytes(cache.resolve("vyper-00000001.bin")));
        assertArrayEquals(fingerprint(4), Files.readAllBytes(cache.resolve("vyper-00000002.bin")));
        RecordingSet<Dive> again = RecordingSet.accepting();
        Downloads.download("sim:two", Downloads.VENDOR, Downloads.PRODUCT, again);
        assertEquals(List.of(), again.added());
    }

    @Test
    void aBrokenCacheMeansAFullDownloadAndIsRepaired() throws Exception {
        Downloads.attach(computer(4, ""));
        Files.createDirectories(cache);
        // Sizes the Vyper backend refuses (4 bytes: another family's), an empty and a huge file.
        List<byte[]> broken = List.of(new byte[] {4, 0, 0}, new byte[] {24, 9, 4, 10},
                                      new byte[] {9, 9, 9, 9, 9, 9}, new byte[0], new byte[5000]);
        for (byte[] content : broken) {
            Files.write(file(), content);
            assertEquals(4, dates().size(), () -> content.length + " bytes");
            assertArrayEquals(fingerprint(4), Files.readAllBytes(file()));
        }
    }

    @Test
    void anUnusableDirectoryNeverFailsTheDownload() throws Exception {
        Downloads.attach(computer(3, ""));
        Path blocker = temporary.resolve("blocker");
        Files.write(blocker, new byte[0]);
        for (String directory : List.of(blocker.toString(), blocker.resolve("below").toString(),
                                        temporary.resolve("a".repeat(1100)).toString())) {
            System.setProperty(DIRECTORY_PROPERTY, directory);
            assertEquals(3, dates().size(), directory);
            assertEquals(3, dates().size(), directory);
        }
        assertEquals(0, Files.size(blocker));
        try (Stream<Path> files = Files.list(temporary)) {
            assertEquals(List.of(blocker), files.toList());
        }
    }

    // The download succeeds all the same, but the application's support log and, unless quiet,
    // standard output say that its cache or its log does not work.
    @Test
    void anUnusableCacheOrLogIsSaid() throws Exception {
        Path port = Files.writeString(temporary.resolve("computer.txt"), computer(2, ""));
        Path blocker = Files.writeString(temporary.resolve("blocker"), "");
        Path log = temporary.resolve("support.log");
        String cacheLine = "Cannot write the fingerprint cache in \"" + blocker
                           + "\"; the next download brings these dives again.";
        String logLine = "Cannot open the support log \"" + temporary + "\"; nothing is logged.";
        String[][] cases = {
            {cacheLine, "-D" + DIRECTORY_PROPERTY + "=" + blocker, "-Ddiveconnector.log=" + log},
            {logLine, "-D" + DIRECTORY_PROPERTY + "=" + cache, "-Ddiveconnector.log=" + temporary},
        };
        for (String[] settings : cases) {
            for (String quiet : List.of("false", "true")) {
                List<String> options = new ArrayList<>(List.of(settings).subList(1, 3));
                options.add("-Ddiveconnector.quiet=" + quiet);
                ChildProcess child = DownloadChild.run(null, false, options, port.toString());
                assertEquals("none", DownloadOutcome.parse(child.stdout()).message(),
                             child::toString);
                assertEquals(quiet.equals("false"), child.stdout().contains(settings[0] + "\n"),
                             child::toString);
            }
        }
        assertTrue(Files.readString(log).contains("Could not write the fingerprint cache in \""
                                                  + blocker + "\"."));
    }

    @Test
    void ctrlCLeavesTheCacheAsItWas() throws Exception {
        knowDiveThree();
        Path scenario = temporary.resolve("scenario.txt");
        Files.writeString(scenario, computer(DIVES, "transfer 10 50\n"));
        List<String> command = new ArrayList<>(TestEnvironment.withDefaultSigint());
        command.addAll(TestEnvironment.childJvm(
            List.of("-D" + DIRECTORY_PROPERTY + "=" + cache),
            List.of(TestEnvironment.path("diveconnector.java.jar"),
                    TestEnvironment.classesOf(SignalProbe.class)),
            SignalProbe.class.getName(), scenario.toString()));
        ChildProcess.Running running = ChildProcess.start(command, Map.of());
        running.awaitOutput(SignalProbe.TRANSFERRING);
        running.interrupt();
        running.awaitOutput(SignalProbe.DOWNLOAD_ENDED);
        running.interrupt();
        ChildProcess child = running.finish().assertClean(130);

        assertEquals("[-10]: Error downloading the dives.",
                     DownloadOutcome.parse(child.stdout()).message(), child::toString);
        assertArrayEquals(fingerprint(3), Files.readAllBytes(file()));
        assertEquals(List.of(file()), cacheFiles());
    }
}
