package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;

/**
 * Writes a dive computer's raw memory to a file, for a bug report. The file is replaced whole
 * once the dump has succeeded, or left as it was.
 */
final class DumpCommand implements Command {
    private static final String FILE = "FILE";

    @Override
    public String name() {
        return "dump";
    }

    @Override
    public String summary() {
        return "Write the raw memory of a dive computer to FILE, for a bug report (Ctrl-C "
            + "cancels).";
    }

    @Override
    public List<Option> options() {
        List<Option> options = new ArrayList<>(ComputerOptions.options());
        options.add(new Option(DownloadCommand.CACHE, "DIR",
                               "The cache of download --new-only, where a BLE computer's\n"
                                   + "access code is kept (default: the same as download's)."));
        options.addAll(SupportLog.options());
        return options;
    }

    @Override
    public Optional<String> operandSynopsis() {
        return Optional.of(FILE);
    }

    @Override
    public int operands() {
        return 1;
    }

    @Override
    public int run(Arguments arguments, PrintStream out, PrintStream err)
        throws UsageException, IOException, CommandFailure, NativeException {
        ComputerOptions.Computer computer = ComputerOptions.of("dump", arguments);
        Optional<String> name = arguments.operand().filter(operand -> !operand.isEmpty());
        if (name.isEmpty()) {
            throw new UsageException("dump needs the FILE to write the memory to");
        }
        Path path = DownloadCommand.path(FILE, name).get();
        // A BLE computer's access code, stored by a download or kept for the next one.
        Path state = DownloadCommand.cacheDirectory(arguments);

        byte[] memory;
        try (PendingFiles files = new PendingFiles(err)) {
            // The target is checked before the dump, which may take minutes, not after it.
            OutputFile file = files.add(OutputFile.replacing(path));
            DownloadCommand.checkCache(state);
            System.setProperty(DownloadCommand.FINGERPRINTS_PROPERTY, state.toString());
            SupportLog.apply(arguments);
            if (ComputerOptions.simulated()) {
                out.println(ComputerOptions.SIMULATED);
            }
            out.println("Dumping the memory of " + computer.model().name() + " on "
                        + computer.portName() + ".");
            Main.checkStandardOutput(out);
            Optional<ProgressBar> bar = ProgressBar.onTerminal(err);
            DiverConnector connector = new DiverConnector(new PinPrompt(System.in, err), bar);
            try {
                memory = connector.dumpDeviceMemory(computer.port(), computer.vendor(),
                                                    computer.product());
            } catch (NativeException e) {
                throw FailureWords.of(e, Optional.of(computer), arguments,
                                      connector.noPinGiven(), connector.pinAsked());
            } finally {
                bar.ifPresent(ProgressBar::end);
            }
            if (memory == null) {
                throw new IllegalStateException("the native library returned no memory");
            }
            try (OutputStream stream = file.stream()) {
                stream.write(memory);
            } catch (IOException e) {
                throw FileErrors.cannotWrite(file.name(), e);
            }
            files.commit();
        }
        out.println("Wrote " + memory.length + (memory.length == 1 ? " byte" : " bytes") + " to "
                    + path + ".");
        return Main.EXIT_OK;
    }
}
