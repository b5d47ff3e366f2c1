package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.exceptions.NativeException;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Optional;
import java.util.Set;
import java.util.function.Function;
import java.util.function.Predicate;

/**
 * The models the library supports, found by the names a diver types: in any case, the product
 * alone when only one vendor has it, and the closest models offered for a name that fits none.
 */
final class Models {
    /** A model as the library names it, with its transports. */
    record Model(String vendor, String product, long transports) {
        String name() {
            return vendor + " " + product;
        }
    }

    // The most models a "did you mean" names.
    private static final int SUGGESTIONS = 3;

    private final List<Model> models;

    private Models(List<Model> models) {
        this.models = models;
    }

    /** The library's models; a model listed twice, once per transport, is one with both. */
    static Models fromLibrary() throws NativeException {
        ModelTransports connector = new ModelTransports();
        Set<Device> devices = connector.getSupportedDevices();
        if (devices == null) {
            throw new IllegalStateException("the native library returned no model list");
        }
        Map<List<String>, Model> models = new LinkedHashMap<>();
        for (Device device : devices) {
            models.putIfAbsent(
                List.of(device.getVendor(), device.getProduct()),
                new Model(device.getVendor(), device.getProduct(),
                          connector.of(device.getVendor(), device.getProduct())));
        }
        return new Models(List.copyOf(models.values()));
    }

    List<Model> all() {
        return models;
    }

    /** The one model of the product, of the vendor when one is given. */
    Model find(Optional<String> vendor, String product) throws CommandFailure {
        String typed = vendor.map(v -> "'" + product + "' from vendor '" + v + "'")
                           .orElse("'" + product + "'");
        List<Model> found = matching(model -> model.product().equalsIgnoreCase(product)
                                              && vendor.map(model.vendor()::equalsIgnoreCase)
                                                     .orElse(true));
        return one(found, typed, vendor.map(v -> v + " " + product).orElse(product), product);
    }

    /** The one model that "Vendor Product", or a product alone, names. */
    Model named(String name) throws CommandFailure {
        List<Model> found = matching(model -> model.name().equalsIgnoreCase(name)
                                              || model.product().equalsIgnoreCase(name));
        // "Vendor Product" is exact: it wins over another vendor's product of that name.
        List<Model> whole = found.stream().filter(m -> m.name().equalsIgnoreCase(name)).toList();
        return one(whole.size() == 1 ? whole : found, "'" + name + "'", name, name);
    }

    private List<Model> matching(Predicate<Model> test) {
        return models.stream().filter(test).toList();
    }

    private Model one(List<Model> found, String typed, String wanted, String product)
        throws CommandFailure {
        if (found.size() == 1) {
            return found.get(0);
        }
        if (found.size() > 1) {
            throw new CommandFailure("Several vendors make " + typed + ": did you mean "
                                         + names(found) + "?",
                                     Main.EXIT_FAILURE, null);
        }
        List<Model> closest = closest(wanted, product);
        throw new CommandFailure("No model " + typed
                                     + (closest.isEmpty() ? "; see 'diveconnector list'"
                                                          : ": did you mean " + names(closest)
                                                                + "?"),
                                 Main.EXIT_FAILURE, null);
    }

    /**
     * The models whose name, or product, is within a few typing errors of the wanted one, nearest
     * first; else those whose name holds each of its words.
     */
    private List<Model> closest(String wanted, String product) {
        String folded = folded(wanted);
        Function<Model, Integer> distance =
            model -> Math.min(editDistance(folded, folded(model.name())),
                              editDistance(folded(product), folded(model.product())));
        int nearest = models.stream().map(distance).min(Integer::compare).orElse(0);
        List<Model> near = models.stream()
                               .filter(model -> distance.apply(model) == nearest
                                                && nearest <= Math.max(2, folded.length() / 3))
                               .sorted(Comparator.comparing(distance))
                               .limit(SUGGESTIONS)
                               .toList();
        if (!near.isEmpty()) {
            return near;
        }
        List<String> words = List.of(folded.split("\\s+"));
        return models.stream()
            .filter(model -> words.stream().allMatch(folded(model.name())::contains))
            .limit(SUGGESTIONS)
            .toList();
    }

    /** "A, B or C". */
    private static String names(List<Model> models) {
        List<String> names = new ArrayList<>();
        for (Model model : models) {
            names.add(model.name());
        }
        return names.size() == 1 ? names.get(0)
            : String.join(", ", names.subList(0, names.size() - 1)) + " or "
                  + names.get(names.size() - 1);
    }

    // Case-insensitive whatever the locale: a Turkish dotless i must not hide "Divesoft".
    static String folded(String text) {
        return text.toLowerCase(Locale.ROOT);
    }

    /** Levenshtein's distance: the fewest insertions, deletions and substitutions. */
    private static int editDistance(String a, String b) {
        int[] previous = new int[b.length() + 1];
        int[] current = new int[b.length() + 1];
        for (int j = 0; j <= b.length(); j++) {
            previous[j] = j;
        }
        for (int i = 1; i <= a.length(); i++) {
            current[0] = i;
            for (int j = 1; j <= b.length(); j++) {
                int substitution = previous[j - 1] + (a.charAt(i - 1) == b.charAt(j - 1) ? 0 : 1);
                current[j] = Math.min(substitution, Math.min(previous[j], current[j - 1]) + 1);
            }
            int[] swap = previous;
            previous = current;
            current = swap;
        }
        return previous[b.length()];
    }
}
