# The two set-up commands of the README: `make test` and `make demo`. Both first install whatever
# is missing (Debian 12, apt-get), then build the three trees.
BUILD   := build
JOBS    ?= $(shell nproc)
CMAKE   := cmake -S . -G "Unix Makefiles" -Wno-dev
TREES   := win32 win64 native

.PHONY: all prerequisites build test demo bench clean

all: build

prerequisites:
	@bash scripts/install-prerequisites.sh

$(BUILD)/win32/Makefile: | prerequisites
	@$(CMAKE) -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
$(BUILD)/win64/Makefile: | prerequisites
	@$(CMAKE) -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake >/dev/null
$(BUILD)/native/Makefile: | prerequisites
	@$(CMAKE) -B $(BUILD)/native >/dev/null

build-%: $(BUILD)/%/Makefile
	@$(MAKE) --no-print-directory -C $(BUILD)/$* -j$(JOBS) all

build: prerequisites $(TREES:%=build-%)

# Each tree's tests under ctest; Windows tests run under Wine in the tree's own fresh prefix.
test-%: build-%
	@cd $(BUILD)/$* && ctest --output-on-failure -j$(JOBS)

test: build
	@status=0; for t in $(TREES); do \
	  echo "== tests of build/$$t"; \
	  (cd $(BUILD)/$$t && ctest --output-on-failure -j$(JOBS)) || status=1; \
	done; exit $$status

# The demo: record the demo workload JVM for a few seconds, show the top of its call tree and write
# build/demo/flamegraph.html; then build a configured launcher from examples/demo.json.
demo: build
	@mkdir -p $(BUILD)/demo
	@set -e; java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java; \
	$$java -jar $(BUILD)/java/zentaro-demo.jar 60 >$(BUILD)/demo/workload.log 2>&1 & pid=$$!; \
	trap 'kill $$pid 2>/dev/null' EXIT; \
	while ! grep -q ready $(BUILD)/demo/workload.log; do \
	  kill -0 $$pid 2>/dev/null || { echo "The demo workload did not start:"; cat $(BUILD)/demo/workload.log; exit 1; }; \
	  sleep 0.1; \
	done; \
	$(BUILD)/native/bin/zentaro-record --pid $$pid --seconds 4 --out $(BUILD)/demo/demo.snapshot; \
	echo "Hottest methods of the demo JVM:"; \
	$(BUILD)/native/bin/zentaro-snapshot top $(BUILD)/demo/demo.snapshot --limit 5; \
	echo "Its call tree, three levels deep:"; \
	$(BUILD)/native/bin/zentaro-snapshot tree $(BUILD)/demo/demo.snapshot --depth 3 | grep -v '^  at ' | head -40; \
	$(BUILD)/native/bin/zentaro-snapshot flamegraph $(BUILD)/demo/demo.snapshot -o $(BUILD)/demo/flamegraph.html
	@$(BUILD)/native/bin/launcher-config build --stub $(BUILD)/win32/launcher.exe \
	  --config examples/demo.json --out $(BUILD)/demo/DemoService.exe
	@echo "Built $(BUILD)/demo/DemoService.exe; its payload:"
	@$(BUILD)/native/bin/launcher-config dump $(BUILD)/demo/DemoService.exe

# Benchmarks print ratios measured side by side in one run; they are never part of `make test`.
bench: build-native
	@$(MAKE) --no-print-directory -C $(BUILD)/native bench

clean:
	rm -rf $(BUILD)
