// Layer placeholder; removed once the layer has sources of its own.
