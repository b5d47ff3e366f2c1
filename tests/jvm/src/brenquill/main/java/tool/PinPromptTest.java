package brenquill.main.java.tool;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.Test;

/** The tool asks the diver for a BLE computer's PIN on the terminal. */
class PinPromptTest {
    private static String[] ask(String typed) {
        ByteArrayOutputStream shown = new ByteArrayOutputStream();
        PinPrompt prompt =
            new PinPrompt(new ByteArrayInputStream(typed.getBytes(StandardCharsets.UTF_8)),
                          new PrintStream(shown, true, StandardCharsets.UTF_8));
        String first = prompt.onPinCodeRequest("00:11:22:33:44:55", "FH001234");
        String second = prompt.onPinCodeRequest("00:11:22:33:44:55", "FH001234");
        return new String[] {first, second, shown.toString(StandardCharsets.UTF_8)};
    }

    @Test
    void eachRequestPromptsAndTakesOneLine() {
        String[] answers = ask(" 123456 \n654321\n");
        assertEquals("123456", answers[0]);
        assertEquals("654321", answers[1]);
        assertEquals(PinPrompt.PROMPT + " " + PinPrompt.PROMPT + " ", answers[2]);
        assertEquals("Enter the PIN shown on the dive computer:", PinPrompt.PROMPT);
    }

    @Test
    void theEndOfTheInputGivesNoPin() {
        String[] answers = ask("");
        assertNull(answers[0]);
        assertNull(answers[1]);
    }
}
