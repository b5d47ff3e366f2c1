package diveconnector.testing;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** The real libdivecomputer build under test and its tools, named by CTest's system properties. */
final class RealLibrary {
    private RealLibrary() {}

    /** One entry of a descriptor table: the columns the listing hands to Java. */
    record Descriptor(String vendor, String product, long transports) {}

    /** The release the library under test was built against, such as "0.9.0". */
    static String release() { return System.getProperty("libdivecomputer.version"); }

    /**
     * An emulator's value for this release from its values by release, "0.8" or "0.9" (0.8 lists
     * some mixes differently and has no usage, sensor numbers or time to surface).
     */
    static Object ofRelease(Object byRelease) {
        return ((Map<?, ?>) byRelease).get(release().startsWith("0.8.") ? "0.8" : "0.9");
    }

    /** The entries of a table in the layout of tests/fixtures (a header, then a line each). */
    static List<Descriptor> parseTable(List<String> lines) {
        List<Descriptor> rows = new ArrayList<>();
        for (String line : lines.subList(1, lines.size())) {
            if (!line.isEmpty()) {
                String[] fields = line.split("\t");
                rows.add(new Descriptor(fields[0], fields[1], Long.decode(fields[5])));
            }
        }
        return rows;
    }

    /**
     * The lines of the descriptor table as the library itself walks it, in the layout of
     * tests/fixtures (tests/real/descriptor_table.c).
     */
    static List<String> libraryTable() throws IOException, InterruptedException {
        Path output = Files.createTempFile("descriptor-table", ".tsv");
        try {
            Process walk = new ProcessBuilder(TestEnvironment.path("descriptor.table").toString())
                               .redirectOutput(output.toFile())
                               .redirectError(ProcessBuilder.Redirect.INHERIT)
                               .start();
            if (walk.waitFor() != 0) {
                throw new IllegalStateException("descriptor_table failed");
            }
            return Files.readAllLines(output);
        } finally {
            Files.delete(output);
        }
    }
}
