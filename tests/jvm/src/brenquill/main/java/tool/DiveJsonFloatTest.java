package brenquill.main.java.tool;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.concurrent.atomic.AtomicLong;
import java.util.regex.Pattern;
import java.util.stream.LongStream;
import org.junit.jupiter.api.Test;

/**
 * The JSON writer's floats read back exactly through a double, as JSON readers read numbers.
 *
 * <p>Every float bit pattern is checked when DIVECONNECTOR_FLOAT_STRIDE is 1 (scripts/stress.sh
 * does so; it takes long on a loaded machine); a plain run checks every 4099th pattern, which
 * still reaches every exponent, and the patterns Float.toString gets wrong.
 */
class DiveJsonFloatTest {
    private static final long DEFAULT_STRIDE = 4099;
    private static final long PATTERNS = 1L << 32;
    // A JSON number (RFC 8259).
    private static final Pattern JSON_NUMBER =
        Pattern.compile("-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][-+]?[0-9]+)?");

    private static long stride() {
        String value = System.getenv("DIVECONNECTOR_FLOAT_STRIDE");
        return value == null || value.isEmpty() ? DEFAULT_STRIDE : Long.parseLong(value);
    }

    /** The float's decimal is a JSON number that reads back as the float through a double. */
    private static boolean readsBack(int bits) {
        float value = Float.intBitsToFloat(bits);
        if (!Float.isFinite(value)) {
            return true;
        }
        String text = DiveJson.decimal(value);
        return JSON_NUMBER.matcher(text).matches()
            && Float.floatToRawIntBits((float) Double.parseDouble(text)) == bits;
    }

    @Test
    void theFloatsThatFloatToStringGetsWrongReadBack() {
        for (int bits : List.of(0x15ae43fd, 0x95ae43fd)) {
            float value = Float.intBitsToFloat(bits);
            assertTrue(readsBack(bits), () -> DiveJson.decimal(value));
            assertTrue(DiveJson.decimal(value).length() <= Double.toString(value).length(),
                       DiveJson.decimal(value));
        }
        assertEquals("0.1", DiveJson.decimal(0.1f));
        assertEquals("-0.0", DiveJson.decimal(-0.0f));
        assertEquals("3.4028235E38", DiveJson.decimal(Float.MAX_VALUE));
        assertEquals("1.4E-45", DiveJson.decimal(Float.MIN_VALUE));
    }

    @Test
    void everyFloatReadsBackExactlyThroughADouble() {
        long stride = stride();
        AtomicLong failures = new AtomicLong();
        AtomicLong firstFailure = new AtomicLong(-1);
        LongStream.range(0, (PATTERNS + stride - 1) / stride).parallel().forEach(index -> {
            int bits = (int) (index * stride);
            if (!readsBack(bits) && failures.getAndIncrement() == 0) {
                firstFailure.set(bits & 0xffffffffL);
            }
        });
        assertEquals(0, failures.get(),
                     () -> "first failure: 0x" + Long.toHexString(firstFailure.get()) + " as "
                         + DiveJson.decimal(Float.intBitsToFloat((int) firstFailure.get())));
    }
}
