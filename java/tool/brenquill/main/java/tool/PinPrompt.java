package brenquill.main.java.tool;

import brenquill.main.java.core.DeviceConnector;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

/** The library's connector, asking the diver on the terminal for a BLE computer's PIN. */
final class PinPrompt extends DeviceConnector {
    static final String PROMPT = "Enter the PIN shown on the dive computer:";

    private final BufferedReader input;
    private final PrintStream output;

    PinPrompt(InputStream input, PrintStream output) {
        this.input = new BufferedReader(new InputStreamReader(input, StandardCharsets.UTF_8));
        this.output = output;
    }

    /** The line the diver typed, trimmed; null when the input has ended or cannot be read. */
    @Override
    public String onPinCodeRequest(String address, String name) {
        output.print(PROMPT + " ");
        output.flush();
        try {
            String line = input.readLine();
            return line == null ? null : line.trim();
        } catch (IOException e) {
            return null;
        }
    }
}
