package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The tool and a BLE computer that pairs with a PIN, behind the mock BlueZ: where it asks, what
 * Ctrl-C and the end of the input do there, and the access code that downloads and dumps share.
 */
class CliPinTest {
    private static final String ADDRESS = "00:11:22:33:44:77";
    private static final String PIN = "123456";
    private static final String PROMPT = "Enter the PIN shown on the dive computer:";

    @TempDir Path temporary;

    private MockBluez bluez;

    @BeforeEach
    void startTheComputer() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "0.8 has no PIN requests");
        Path scenario = Files.writeString(temporary.resolve("pairing.txt"), String.join("\n",
            "bluetooth " + ADDRESS + " \"G2 Sim\"", "serial sim:pin", "pin " + PIN,
            "devinfo 1 2 77", "dive", "datetime 2024-06-01 09:00:00",
            "profile 0:00@0 5:00@10 10:00@0", ""));
        bluez = new MockBluez("{\"devices\": [{\"address\": \"" + ADDRESS + "\", \"name\": "
                              + "\"G2 Sim\", \"peripheral\": \"dcsim\", \"scenario\": \""
                              + scenario + "\"}]}");
    }

    @AfterEach
    void stopIt() {
        if (bluez != null) {
            bluez.close();
        }
    }

    /** The tool on the computer through sh running `shell` with "$@" the tool's command line. */
    private static List<String> tool(String shell, String command, String... arguments) {
        List<String> line = new ArrayList<>(List.of("/bin/sh", "-c", shell, "sh"));
        line.addAll(Tool.command(command, "--port", "ble:" + ADDRESS, "--vendor", "Simtec",
                                 "--product", "G2 Sim"));
        line.addAll(List.of(arguments));
        return line;
    }

    private static Path accessCode(Path state) {
        return state.resolve("ble-access-codes").resolve(ADDRESS.replace(':', '_'));
    }

    @Test
    void thePinIsAskedOnTheTerminalAndItsAccessCodeIsSharedByDownloadsAndDumps()
        throws Exception {
        Path cache = temporary.resolve("cache");
        ChildProcess download =
            ChildProcess.run(tool("printf '" + PIN + "\\n' | exec \"$@\"", "download", "--json",
                                  "-", "--new-only", "--cache", cache.toString()),
                             Tool.JNI_CHECKS)
                .assertClean(0);
        assertTrue(download.stdout().startsWith("{"), download::toString);
        assertFalse(download.stdout().contains(PROMPT), download::toString);
        assertTrue(download.stderr().contains(PROMPT), download::toString);
        assertTrue(Files.isRegularFile(accessCode(cache)), download::toString);

        // No input: the stored code must open the computer. dcsim's BLE peripheral serves dives,
        // no memory image, so the dump itself then fails.
        Path memory = temporary.resolve("memory.bin");
        String noDump = "diveconnector: Simtec G2 Sim cannot dump its memory.\nlibdivecomputer has "
            + "no memory dump for its model. (Details: --log FILE.)";
        ChildProcess dump =
            Tool.run("dump", "--port", "ble:" + ADDRESS, "--vendor", "Simtec", "--product",
                     "G2 Sim", "--cache", cache.toString(), memory.toString())
                .assertClean(1);
        assertFalse(dump.stderr().contains(PROMPT), dump::toString);
        assertTrue(dump.stderr().contains(noDump), dump::toString);

        // A dump that pairs keeps the code it obtains.
        Path another = temporary.resolve("another cache");
        ChildProcess pairing =
            ChildProcess.run(tool("printf '" + PIN + "\\n' | exec \"$@\"", "dump", "--cache",
                                  another.toString(), memory.toString()),
                             Tool.JNI_CHECKS)
                .assertClean(1);
        assertTrue(pairing.stderr().contains(PROMPT + " " + noDump), pairing::toString);
        assertTrue(Files.isRegularFile(accessCode(another)), pairing::toString);
    }

    @Test
    void theEndOfTheInputOrAWrongPinAtThePromptSaysWhatHappened() throws Exception {
        String[][] cases = {
            // The shell's input, what the prompt's line ends with
            {"exec \"$@\" < /dev/null", " \ndiveconnector: No PIN was given: the input ended.\n"},
            {"printf '654321\\n' | exec \"$@\"",
             " diveconnector: The computer refused the PIN.\nRun it again and type the PIN it "
                 + "shows then. "},
        };
        for (String[] input : cases) {
            ChildProcess child = ChildProcess.run(tool(input[0], "download", "--all", "--cache",
                                                       temporary.resolve("c").toString()),
                                                  Tool.JNI_CHECKS)
                                     .assertClean(1);
            assertTrue(child.stderr().contains(PROMPT + input[1] + "(Details: --log FILE.)"),
                       child::toString);
        }
    }

    @Test
    void ctrlCAtThePromptCancelsAtOnce() throws Exception {
        // Read and written by the tool alone, the FIFO's input never ends.
        Path fifo = temporary.resolve("input");
        assertEquals(0, new ProcessBuilder("mkfifo", fifo.toString()).start().waitFor());
        List<String> command = new ArrayList<>(TestEnvironment.withDefaultSigint());
        command.addAll(tool("exec \"$@\" 2>&1 <>\"" + fifo + "\"", "download", "--all",
                            "--cache", temporary.resolve("c").toString()));
        ChildProcess.Running running = ChildProcess.start(command, Tool.JNI_CHECKS);
        running.awaitOutput(PROMPT);
        running.interrupt();
        ChildProcess child = running.finish();
        assertEquals(130, child.exitCode(), child::toString);
        assertTrue(child.stdout().contains("diveconnector: Cancelled."), child::toString);
    }
}
