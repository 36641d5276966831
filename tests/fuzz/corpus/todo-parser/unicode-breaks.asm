; TODO: next line% TODO: after NEL // TODO: after LS \
