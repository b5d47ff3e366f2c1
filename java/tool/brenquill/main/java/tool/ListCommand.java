package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.Set;

/**
 * Prints the supported dive-computer models as a table of vendor, product and transports, all of
 * them or those matching a text and a transport.
 */
final class ListCommand implements Command {
    private static final String[] HEADINGS = {"Vendor", "Product", "Transports"};
    private static final boolean[] LEFT = {true, true, true};
    private static final String TRANSPORT = "--transport";

    @Override
    public String name() {
        return "list";
    }

    @Override
    public String summary() {
        return "Print the supported models, or those whose vendor and product contain every word "
            + "of TEXT.";
    }

    @Override
    public List<Option> options() {
        return List.of(new Option(TRANSPORT, "NAME",
                                  "Only the models with this transport:\n" + Transport.names()
                                      + "."));
    }

    @Override
    public Optional<String> operandSynopsis() {
        return Optional.of("[TEXT...]");
    }

    @Override
    public int operands() {
        return Integer.MAX_VALUE;
    }

    @Override
    public int run(Arguments arguments, PrintStream out, PrintStream err)
        throws NativeException, UsageException {
        Optional<Transport> transport = Optional.empty();
        if (arguments.value(TRANSPORT).isPresent()) {
            String name = arguments.value(TRANSPORT).get();
            transport = Optional.of(Transport.named(name).orElseThrow(
                () -> new UsageException("unknown transport '" + name + "'; the transports are "
                                         + Transport.names())));
        }
        List<String> words = new ArrayList<>();
        for (String operand : arguments.operands()) {
            for (String word : Models.folded(operand).split("\\s+")) {
                if (!word.isEmpty()) {
                    words.add(word);
                }
            }
        }

        ModelTransports connector = new ModelTransports();
        Set<Device> devices = connector.getSupportedDevices();
        if (devices == null) {
            throw new IllegalStateException("the native library returned no model list");
        }
        List<String[]> rows = new ArrayList<>();
        for (Device device : devices) {
            long transports = connector.of(device.getVendor(), device.getProduct());
            String name = Models.folded(device.getVendor() + " " + device.getProduct());
            boolean matches = words.stream().allMatch(name::contains)
                && transport.map(wanted -> wanted.in(transports)).orElse(true);
            if (matches) {
                rows.add(new String[] {device.getVendor(), device.getProduct(),
                                       Transport.labels(transports)});
            }
        }
        if (words.isEmpty() && transport.isEmpty()) {
            TextTable.print(out, HEADINGS, LEFT, rows);
            out.println(devices.size() + (devices.size() == 1 ? " supported model"
                                                              : " supported models"));
        } else if (rows.isEmpty()) {
            out.println("No supported model matches; 'list' alone prints all "
                        + devices.size() + ".");
        } else {
            TextTable.print(out, HEADINGS, LEFT, rows);
            out.println(rows.size() + " of " + devices.size()
                        + (devices.size() == 1 ? " supported model" : " supported models"));
        }
        return Main.EXIT_OK;
    }
}
