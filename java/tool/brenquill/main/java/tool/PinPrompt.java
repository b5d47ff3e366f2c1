package brenquill.main.java.tool;

import brenquill.main.java.core.DeviceConnector;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.Optional;

/**
 * The library's connector, asking the diver for a BLE computer's PIN: the prompt goes to the
 * terminal (the standard error), never into the standard output, which may carry the JSON.
 * Ctrl-C at the prompt ends the tool at once: the library leaves SIGINT to the JVM while it waits.
 */
final class PinPrompt extends DeviceConnector {
    static final String PROMPT = "Enter the PIN shown on the dive computer:";

    private final BufferedReader input;
    private final PrintStream terminal;
    private String noPin;
    private boolean asked;

    PinPrompt(InputStream input, PrintStream terminal) {
        this.input = new BufferedReader(new InputStreamReader(input, StandardCharsets.UTF_8));
        this.terminal = terminal;
    }

    /** The line the diver typed, trimmed; null when the input has ended or cannot be read. */
    @Override
    public String onPinCodeRequest(String address, String name) {
        asked = true;
        terminal.print(PROMPT + " ");
        terminal.flush();
        try {
            String line = input.readLine();
            if (line == null) {
                noPin = "No PIN was given: the input ended";
                terminal.println();
            }
            return line == null ? null : line.trim();
        } catch (IOException e) {
            noPin = "No PIN was given: cannot read the input";
            terminal.println();
            return null;
        }
    }

    /** Whether the computer asked for a PIN. */
    boolean asked() {
        return asked;
    }

    /** Why the diver gave no PIN, when a request found the input ended or unreadable. */
    Optional<String> noPinGiven() {
        return Optional.ofNullable(noPin);
    }
}
