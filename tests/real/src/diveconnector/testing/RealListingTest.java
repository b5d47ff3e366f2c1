package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;
import org.junit.jupiter.api.Test;

/** getSupportedDevices against the real library's descriptor table. */
class RealListingTest {
    /** Records every entry the listing reports, in its order. */
    private static final class RecordingConnector extends DeviceConnector {
        final List<RealLibrary.Descriptor> reported = new ArrayList<>();

        @Override
        public void onSupportedDevice(String vendor, String product, long transports) {
            reported.add(new RealLibrary.Descriptor(vendor, product, transports));
        }
    }

    private static List<Device> distinctModels(List<RealLibrary.Descriptor> table) {
        TreeSet<Device> models = new TreeSet<>();
        for (RealLibrary.Descriptor row : table) {
            models.add(new Device(row.vendor(), row.product(), row.product()));
        }
        return new ArrayList<>(models);
    }

    @Test
    void listingHoldsEveryModelOfTheLibraryTableAndReportsEveryEntryInOrder() throws Exception {
        List<RealLibrary.Descriptor> table = RealLibrary.parseTable(RealLibrary.libraryTable());
        RecordingConnector connector = new RecordingConnector();

        TreeSet<Device> devices = connector.getSupportedDevices();

        assertEquals(distinctModels(table), new ArrayList<>(devices));
        assertEquals(table, connector.reported);
    }

    @Test
    void toolListsEveryModel() throws Exception {
        int models = distinctModels(RealLibrary.parseTable(RealLibrary.libraryTable())).size();

        ChildProcess child = Tool.run("list").assertClean(0);

        assertTrue(child.stdout().endsWith("\n" + models + " supported models\n"), child::toString);
    }

        /**
     * The project's fixture of this release is the table the real library has: dcsim presents
     * the fixtures as the real tables, so a fixture that drifted would test dcsim against a table
     * no release has. A release without a fixture (a development snapshot) is listed against its
     * own table above.
     */
    @Test
    void fixtureOfThisReleaseIsTheLibraryTable() throws Exception {
        Path fixture =
            TestEnvironment.path("diveconnector.fixtures")
                .resolve("libdivecomputer-" + RealLibrary.release() + "-descriptors.tsv");
        List<String> table = RealLibrary.libraryTable();
        if (!Files.exists(fixture)) {
            List<Device> known = distinctModels(RealLibrary.parseTable(
                Files.readAllLines(TestEnvironment.path("diveconnector.fixtures")
                                       .resolve("libdivecomputer-0.9.0-descriptors.tsv"))));
            List<Device> models = distinctModels(RealLibrary.parseTable(table));
            List<Device> added = new ArrayList<>(models);
            added.removeAll(known);
            List<Device> removed = new ArrayList<>(known);
            removed.removeAll(models);
            System.out.printf("libdivecomputer %s has no fixture: %d models, beyond 0.9.0 %s, "
                    + "missing from 0.9.0's %s%n",
                RealLibrary.release(), models.size(), added, removed);
            return;
        }
        assertEquals(Files.readAllLines(fixture), table);
    }
}
