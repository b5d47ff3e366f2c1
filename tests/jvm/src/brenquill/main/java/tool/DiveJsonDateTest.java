package brenquill.main.java.tool;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.Optional;
import java.util.OptionalInt;
import org.junit.jupiter.api.Test;

/**
 * The ISO 8601 start of a dive for what no simulated computer gives: offsets beyond whole minutes
 * (libdivecomputer counts them in seconds) and dates a computer's clock can hold but no calendar.
 */
class DiveJsonDateTest {
    @Test
    void startsAreIsoWhereTheDateIsARealOne() {
        Object[][] cases = {
            {"2024-06-01 10:00:00", OptionalInt.of(-12600), "2024-06-01T10:00:00-03:30"},
            {"2024-06-01 10:00:00", OptionalInt.of(3661), "2024-06-01T10:00:00+01:01:01"},
            {"2024-06-01 10:00:00", OptionalInt.of(-59), "2024-06-01T10:00:00-00:00:59"},
            {"2024-06-01 10:00:00", OptionalInt.of(0), "2024-06-01T10:00:00+00:00"},
            {"2024-02-29 23:59:59", OptionalInt.empty(), "2024-02-29T23:59:59"},
            {"2023-02-29 10:00:00", OptionalInt.of(0), null},
            {"2024-06-01 24:00:00", OptionalInt.empty(), null},
            {"10000-01-01 00:00:00", OptionalInt.empty(), null},
            {"-001-01-01 00:00:00", OptionalInt.empty(), null},
            {"2024-6-1 10:00:00", OptionalInt.empty(), null},
            {"", OptionalInt.empty(), null}};
        for (Object[] c : cases) {
            assertEquals(Optional.ofNullable((String) c[2]),
                         DiveJson.isoDateTime((String) c[0], (OptionalInt) c[1]),
                         c[0] + " " + c[1]);
        }
    }
}
