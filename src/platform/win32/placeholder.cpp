// placeholder: removed once the module has sources
